#include "string_table.h"

#include <bit>
#include <cstring>

#include "hash_key.h"

namespace stblc {
namespace {

constexpr size_t kMinIndexSlots = 1024;
constexpr size_t kTextBlockSize = size_t{1} << 20;
// Texts larger than this get a block of their own, so that a block's tail
// is never wasted on a big one.
constexpr size_t kOwnBlockThreshold = kTextBlockSize / 4;

uint32_t tag_of(uint64_t key_hash) {
  return static_cast<uint32_t>(key_hash >> 32);
}

}  // namespace

StringTable::StringTable(uint64_t max_entries) : max_entries_(max_entries) {}

size_t StringTable::home_slot(uint64_t key_hash) const {
  // FNV's low bits depend mostly on the key's last byte: spread all of them
  // over the slot number with a Fibonacci multiplier.
  return static_cast<size_t>((key_hash * 0x9E3779B97F4A7C15u) >> index_shift_);
}

size_t StringTable::find_slot(uint64_t key_hash) const {
  const size_t mask = index_.size() - 1;
  const uint32_t tag = tag_of(key_hash);
  for (size_t i = home_slot(key_hash);; i = (i + 1) & mask) {
    const Slot& slot = index_[i];
    if (slot.position_plus_one == 0) return i;
    if (slot.tag == tag &&
        entries_[slot.position_plus_one - 1].key_hash == key_hash) {
      return i;
    }
  }
}

void StringTable::grow_index() {
  size_t slots = index_.empty() ? kMinIndexSlots : index_.size() * 2;
  index_.assign(slots, Slot{0, 0});
  index_shift_ = 64 - std::countr_zero(slots);
  const size_t mask = slots - 1;
  for (size_t pos = 0; pos < entries_.size(); ++pos) {
    const uint64_t key_hash = entries_[pos].key_hash;
    size_t i = home_slot(key_hash);
    while (index_[i].position_plus_one != 0) i = (i + 1) & mask;
    index_[i] = Slot{tag_of(key_hash), static_cast<uint32_t>(pos + 1)};
  }
}

const StringEntry* StringTable::find(uint64_t key_hash) const {
  if (index_.empty()) return nullptr;
  const Slot& slot = index_[find_slot(key_hash)];
  return slot.position_plus_one ? &entries_[slot.position_plus_one - 1]
                                : nullptr;
}

uint8_t* StringTable::allocate_text(size_t size) {
  if (size > kOwnBlockThreshold) {
    blocks_.push_back(std::make_unique_for_overwrite<uint8_t[]>(size));
    return blocks_.back().get();
  }
  if (size > block_left_) {
    blocks_.push_back(
        std::make_unique_for_overwrite<uint8_t[]>(kTextBlockSize));
    block_free_ = blocks_.back().get();
    block_left_ = kTextBlockSize;
  }
  uint8_t* text = block_free_;
  block_free_ += size;
  block_left_ -= size;
  return text;
}

AddResult StringTable::add(std::string_view key, std::string_view text,
                           Origin origin) {
  return put(hash_key_twice(key), text, origin);
}

AddResult StringTable::put(const KeyHashes& key, std::string_view text,
                           Origin origin) {
  if (text.size() > stbl::kMaxLength) return {AddStatus::kTextTooLong};
  const uint64_t key_hash = key.key_hash;
  const auto length = static_cast<uint32_t>(text.size());

  // Keep the load factor at most one half, so probe runs stay short.
  if ((entries_.size() + 1) * 2 > index_.size()) grow_index();
  Slot& slot = index_[find_slot(key_hash)];

  if (slot.position_plus_one != 0) {
    StringEntry& entry = entries_[slot.position_plus_one - 1];
    // The old bytes belong to this entry alone, so a text no longer than
    // them can take their place.
    uint8_t* bytes = length <= entry.length ? const_cast<uint8_t*>(entry.text)
                                            : allocate_text(length);
    if (length) std::memcpy(bytes, text.data(), length);
    const AddResult result{AddStatus::kReplaced, entry.origin,
                           entry.key_check == key.check};
    entry = StringEntry{key_hash, key.check, bytes, length, origin};
    return result;
  }

  if (entries_.size() >= max_entries_) return {AddStatus::kTooManyEntries};
  uint8_t* bytes = allocate_text(length);
  if (length) std::memcpy(bytes, text.data(), length);
  entries_.push_back(StringEntry{key_hash, key.check, bytes, length, origin});
  slot = Slot{tag_of(key_hash), static_cast<uint32_t>(entries_.size())};
  return {AddStatus::kAdded};
}

}  // namespace stblc
