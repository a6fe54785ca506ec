// An open-addressed hash index from 64-bit key hashes to positions in an
// array that the caller keeps (0, 1, 2, ...), for lookups in O(1) on
// average. The index holds no hashes of its own: it asks the caller for the
// hash at a position when it must compare. A slot keeps the top half of the
// mixed hash, which both decides the slot and filters the comparisons: a
// probe seldom touches the caller's array, and growing reads the old slots
// in order instead of the caller's array at random. Cannot fail but for
// std::bad_alloc when it grows.

#ifndef STBLC_TABLE_HASH_INDEX_H_
#define STBLC_TABLE_HASH_INDEX_H_

#include <bit>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "large_allocator.h"
#include "prefetch.h"

namespace stblc {

class HashIndex {
 public:
  static constexpr uint32_t kAbsent = 0xFFFFFFFFu;

  // The position stored for key_hash, or kAbsent. hash_at(position) gives
  // the key hash of a position.
  template <typename HashAt>
  uint32_t find(uint64_t key_hash, const HashAt& hash_at) const {
    if (slots_.empty()) return kAbsent;
    const Slot& slot = slots_[slot_for(key_hash, hash_at)];
    return slot.position_plus_one ? slot.position_plus_one - 1 : kAbsent;
  }

  // Records that position holds key_hash, which must not be in the index
  // yet; count is the number of positions in use, this one included.
  template <typename HashAt>
  void insert(uint64_t key_hash, uint32_t position, size_t count,
              const HashAt& hash_at) {
    // A load factor of at most one half keeps probe runs short.
    if (count * 2 > slots_.size()) grow(count, hash_at);
    slots_[slot_for(key_hash, hash_at)] =
        Slot{tag_of(mixed(key_hash)), position + 1};
  }

  // The position that key_hash probably has, judged by the slots alone
  // (the caller's array is not asked), or kAbsent: to fetch the caller's
  // entry ahead of a find() that will compare it.
  uint32_t likely_position(uint64_t key_hash) const {
    if (slots_.empty()) return kAbsent;
    const size_t mask = slots_.size() - 1;
    const uint64_t mix = mixed(key_hash);
    for (size_t i = home_slot(mix);; i = (i + 1) & mask) {
      const Slot& slot = slots_[i];
      if (slot.position_plus_one == 0) return kAbsent;
      if (slot.tag == tag_of(mix)) return slot.position_plus_one - 1;
    }
  }

  // Starts loading key_hash's first slot into the cache.
  void prefetch(uint64_t key_hash) const {
    if (!slots_.empty()) prefetch_memory(&slots_[home_slot(mixed(key_hash))]);
  }

 private:
  struct Slot {
    uint32_t tag;                // top half of the mixed hash
    uint32_t position_plus_one;  // 0: free
  };
  static constexpr size_t kMinSlots = 1024;

  // FNV's low bits depend mostly on a key's last byte: a Fibonacci
  // multiplier spreads all of them over the top bits, which pick the slot.
  static uint64_t mixed(uint64_t key_hash) {
    return key_hash * 0x9E3779B97F4A7C15u;
  }
  static uint32_t tag_of(uint64_t mixed_hash) {
    return static_cast<uint32_t>(mixed_hash >> 32);
  }
  size_t home_slot(uint64_t mixed_hash) const {
    return static_cast<size_t>(mixed_hash >> shift_);
  }

  // The slot holding key_hash, or the free slot where it would go.
  template <typename HashAt>
  size_t slot_for(uint64_t key_hash, const HashAt& hash_at) const {
    const size_t mask = slots_.size() - 1;
    const uint64_t mix = mixed(key_hash);
    const uint32_t tag = tag_of(mix);
    for (size_t i = home_slot(mix);; i = (i + 1) & mask) {
      const Slot& slot = slots_[i];
      if (slot.position_plus_one == 0) return i;
      if (slot.tag == tag && hash_at(slot.position_plus_one - 1) == key_hash) {
        return i;
      }
    }
  }

  template <typename HashAt>
  void grow(size_t count, const HashAt& hash_at) {
    size_t size = slots_.empty() ? kMinSlots : slots_.size();
    while (count * 2 > size) size *= 2;
    std::vector<Slot, LargeAllocator<Slot>> old(size, Slot{0, 0});
    old.swap(slots_);  // slots_ is now the larger array, all free
    shift_ = 64 - std::countr_zero(size);
    const size_t mask = size - 1;
    // Up to 2^32 slots the tag holds every bit of the home slot. Taken in
    // slot order, the old slots then land in nearly ascending new slots.
    const bool tag_decides = shift_ >= 32;
    for (const Slot& slot : old) {
      if (slot.position_plus_one == 0) continue;
      size_t i = tag_decides
                     ? slot.tag >> (shift_ - 32)
                     : home_slot(mixed(hash_at(slot.position_plus_one - 1)));
      while (slots_[i].position_plus_one != 0) i = (i + 1) & mask;
      slots_[i] = slot;
    }
  }

  std::vector<Slot, LargeAllocator<Slot>> slots_;
  int shift_ = 64;
};

}  // namespace stblc

#endif  // STBLC_TABLE_HASH_INDEX_H_
