// An allocator for the table's big arrays. Allocations of 2 MiB or more are
// mapped directly and marked for transparent huge pages where the system
// offers them: one page fault and one TLB entry then cover 2 MiB instead of
// 4 KiB, which matters for an index probed at random. Smaller ones go to
// the ordinary allocator. Failure is handled as operator new handles it:
// the new-handler is called if there is one, else std::bad_alloc thrown.

#ifndef STBLC_TABLE_LARGE_ALLOCATOR_H_
#define STBLC_TABLE_LARGE_ALLOCATOR_H_

#include <cstddef>
#include <new>

namespace stblc {

void* allocate_large(size_t bytes);
void free_large(void* p, size_t bytes);
// Makes an allocation of old_bytes (null when 0) new_bytes long, keeping
// its first old_bytes. Large ones are moved by remapping, not copied.
void* reallocate_large(void* p, size_t old_bytes, size_t new_bytes);

template <typename T>
struct LargeAllocator {
  using value_type = T;
  LargeAllocator() = default;
  template <typename U>
  LargeAllocator(const LargeAllocator<U>&) {}
  T* allocate(size_t n) {
    if (n > static_cast<size_t>(-1) / sizeof(T)) throw std::bad_alloc();
    return static_cast<T*>(allocate_large(n * sizeof(T)));
  }
  void deallocate(T* p, size_t n) { free_large(p, n * sizeof(T)); }
  template <typename U>
  bool operator==(const LargeAllocator<U>&) const {
    return true;
  }
};

}  // namespace stblc

#endif  // STBLC_TABLE_LARGE_ALLOCATOR_H_
