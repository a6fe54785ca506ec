// LD_PRELOAD shim that makes memory allocation fail on purpose.
//
//   STBLC_FAIL_ALLOC=N    the Nth allocation fails, once
//   STBLC_FAIL_ALLOC=N+   the Nth and every later allocation fails
//   STBLC_COUNT_ALLOC=F   at exit, write the number of allocations to F
//
// Counted are malloc, calloc, realloc (growing), aligned_alloc,
// posix_memalign and memalign: everything operator new ends up in.
#include <dlfcn.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

long g_count = 0;
long g_fail_at = 0;  // 0: never
bool g_persistent = false;
const char* g_count_file = nullptr;
bool g_ready = false;

using MallocFn = void* (*)(size_t);
using CallocFn = void* (*)(size_t, size_t);
using ReallocFn = void* (*)(void*, size_t);
using AlignedFn = void* (*)(size_t, size_t);
using PosixMemalignFn = int (*)(void**, size_t, size_t);

MallocFn real_malloc;
CallocFn real_calloc;
ReallocFn real_realloc;
AlignedFn real_aligned_alloc;
AlignedFn real_memalign;
PosixMemalignFn real_posix_memalign;

// dlsym may allocate before the real functions are known: serve it from
// a small static arena.
alignas(16) char g_bootstrap[4096];
size_t g_bootstrap_used = 0;

void* bootstrap_alloc(size_t size) {
  size = (size + 15) & ~size_t{15};
  if (g_bootstrap_used + size > sizeof g_bootstrap) return nullptr;
  void* p = g_bootstrap + g_bootstrap_used;
  g_bootstrap_used += size;
  return p;
}

bool in_bootstrap(void* p) {
  return p >= static_cast<void*>(g_bootstrap) &&
         p < static_cast<void*>(g_bootstrap + sizeof g_bootstrap);
}

void resolve() {
  static bool resolving = false;
  if (g_ready || resolving) return;
  resolving = true;
  real_malloc = reinterpret_cast<MallocFn>(dlsym(RTLD_NEXT, "malloc"));
  real_calloc = reinterpret_cast<CallocFn>(dlsym(RTLD_NEXT, "calloc"));
  real_realloc = reinterpret_cast<ReallocFn>(dlsym(RTLD_NEXT, "realloc"));
  real_aligned_alloc =
      reinterpret_cast<AlignedFn>(dlsym(RTLD_NEXT, "aligned_alloc"));
  real_memalign = reinterpret_cast<AlignedFn>(dlsym(RTLD_NEXT, "memalign"));
  real_posix_memalign =
      reinterpret_cast<PosixMemalignFn>(dlsym(RTLD_NEXT, "posix_memalign"));
  if (const char* at = getenv("STBLC_FAIL_ALLOC")) {
    g_fail_at = strtol(at, nullptr, 10);
    g_persistent = strchr(at, '+') != nullptr;
  }
  g_count_file = getenv("STBLC_COUNT_ALLOC");
  g_ready = true;
}

// Whether this allocation is to fail.
bool fail_now() {
  ++g_count;
  if (g_fail_at <= 0) return false;
  return g_persistent ? g_count >= g_fail_at : g_count == g_fail_at;
}

__attribute__((destructor)) void report() {
  if (!g_count_file) return;
  if (FILE* f = fopen(g_count_file, "w")) {
    fprintf(f, "%ld\n", g_count);
    fclose(f);
  }
}

}  // namespace

extern "C" {

void* malloc(size_t size) {
  resolve();
  if (!g_ready) return bootstrap_alloc(size);
  if (fail_now()) {
    errno = ENOMEM;
    return nullptr;
  }
  return real_malloc(size);
}

void* calloc(size_t n, size_t size) {
  resolve();
  if (!g_ready) {
    void* p = bootstrap_alloc(n * size);
    if (p) memset(p, 0, n * size);
    return p;
  }
  if (fail_now()) {
    errno = ENOMEM;
    return nullptr;
  }
  return real_calloc(n, size);
}

void* realloc(void* p, size_t size) {
  resolve();
  if (in_bootstrap(p)) {
    void* q = malloc(size);
    const size_t held = static_cast<size_t>(g_bootstrap + sizeof g_bootstrap -
                                            static_cast<char*>(p));
    if (q) memcpy(q, p, size < held ? size : held);
    return q;
  }
  if (size && fail_now()) {
    errno = ENOMEM;
    return nullptr;
  }
  return real_realloc(p, size);
}

void free(void* p) {
  static void (*real_free)(void*) = nullptr;
  if (!p || in_bootstrap(p)) return;
  if (!real_free) {
    real_free = reinterpret_cast<void (*)(void*)>(dlsym(RTLD_NEXT, "free"));
  }
  real_free(p);
}

void* aligned_alloc(size_t alignment, size_t size) {
  resolve();
  if (fail_now()) {
    errno = ENOMEM;
    return nullptr;
  }
  return real_aligned_alloc(alignment, size);
}

void* memalign(size_t alignment, size_t size) {
  resolve();
  if (fail_now()) {
    errno = ENOMEM;
    return nullptr;
  }
  return real_memalign(alignment, size);
}

int posix_memalign(void** out, size_t alignment, size_t size) {
  resolve();
  if (fail_now()) return ENOMEM;
  return real_posix_memalign(out, alignment, size);
}

}  // extern "C"
