#include "large_allocator.h"

#include <sys/mman.h>

#include <cstdlib>
#include <new>

namespace stblc {
namespace {

constexpr size_t kHugePage = size_t{2} << 20;

// Fails as operator new does: through the new-handler, if one is set.
[[noreturn]] void out_of_memory() {
  if (const std::new_handler handler = std::get_new_handler()) handler();
  throw std::bad_alloc();
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
#ifdef MADV_HUGEPAGE
  madvise(p, bytes, MADV_HUGEPAGE);
#endif
  return p;
}

void free_large(void* p, size_t bytes) {
  if (bytes < kHugePage) {
    std::free(p);
  } else {
    munmap(p, bytes);
  }
}

}  // namespace stblc
