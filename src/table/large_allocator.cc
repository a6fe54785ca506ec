#include "large_allocator.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

namespace stblc {
namespace {

constexpr size_t kHugePage = size_t{2} << 20;

// Fails as operator new does: through the new-handler, if one is set.
[[noreturn]] void out_of_memory() {
  if (const std::new_handler handler = std::get_new_handler()) handler();
  throw std::bad_alloc();
}

void prefer_huge_pages(void* p, size_t bytes) {
#ifdef MADV_HUGEPAGE
  madvise(p, bytes, MADV_HUGEPAGE);
#else
  (void)p;
  (void)bytes;
#endif
}

}  // namespace

void* allocate_large(size_t bytes) {
  if (bytes < kHugePage) {
    if (void* p = std::malloc(bytes ? bytes : 1)) return p;
    out_of_memory();
  }
  void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE,
                 MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) out_of_memory();
  prefer_huge_pages(p, bytes);
  return p;
}

void* reallocate_large(void* p, size_t old_bytes, size_t new_bytes) {
#ifdef MREMAP_MAYMOVE
  if (old_bytes >= kHugePage && new_bytes >= kHugePage) {
    void* moved = mremap(p, old_bytes, new_bytes, MREMAP_MAYMOVE);
    if (moved == MAP_FAILED) out_of_memory();
    prefer_huge_pages(moved, new_bytes);
    return moved;
  }
#endif
  void* fresh = allocate_large(new_bytes);
  if (old_bytes) {
    std::memcpy(fresh, p, std::min(old_bytes, new_bytes));
    free_large(p, old_bytes);
  }
  return fresh;
}

void free_large(void* p, size_t bytes) {
  if (bytes < kHugePage) {
    std::free(p);
  } else {
    munmap(p, bytes);
  }
}

}  // namespace stblc
