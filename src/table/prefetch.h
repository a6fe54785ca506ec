// A hint to start loading memory into the cache ahead of its use, where the
// compiler offers one; nothing otherwise. It never fails or faults.

#ifndef STBLC_TABLE_PREFETCH_H_
#define STBLC_TABLE_PREFETCH_H_

namespace stblc {

inline void prefetch_memory([[maybe_unused]] const void* address) {
#if defined(__GNUC__)
  __builtin_prefetch(address);
#endif
}

}  // namespace stblc

#endif  // STBLC_TABLE_PREFETCH_H_
