#include "string_table.h"

#include <algorithm>
#include <cstring>

#include "hash_key.h"
#include "prefetch.h"

namespace stblc {
namespace {

// Blocks grow from small, for small tables, to one huge page.
constexpr size_t kFirstTextBlock = size_t{64} << 10;
constexpr size_t kTextBlockSize = size_t{2} << 20;
// Texts larger than this get a block of their own, so that a block's tail
// is never wasted on a big one.
constexpr size_t kOwnBlockThreshold = kTextBlockSize / 4;

}  // namespace

StringTable::StringTable(uint64_t max_entries) : max_entries_(max_entries) {}

StringTable::~StringTable() {
  for (const Block& block : blocks_) free_large(block.bytes, block.size);
}

void StringTable::prefetch(uint64_t key_hash) const {
  index_.prefetch(key_hash);
}

void StringTable::prefetch_entry(uint64_t key_hash) const {
  const uint32_t position = index_.likely_position(key_hash);
  if (position != HashIndex::kAbsent) prefetch_memory(&entries_[position]);
}

const StringEntry* StringTable::find(uint64_t key_hash) const {
  const uint32_t position = index_.find(key_hash, hash_at_fn());
  return position == HashIndex::kAbsent ? nullptr : &entries_[position];
}

uint8_t* StringTable::allocate_text(size_t size) {
  auto new_block = [this](size_t block_size) {
    blocks_.push_back(Block{nullptr, 0});  // first, so nothing can leak
    blocks_.back() =
        Block{static_cast<uint8_t*>(allocate_large(block_size)), block_size};
    return blocks_.back().bytes;
  };
  if (size > kOwnBlockThreshold) return new_block(size);
  if (size > block_left_) {
    const size_t shift = std::min<size_t>(blocks_.size(), 5);
    block_left_ =
        std::max(size, std::min(kTextBlockSize, kFirstTextBlock << shift));
    block_free_ = new_block(block_left_);
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

  const uint32_t position = index_.find(key_hash, hash_at_fn());
  if (position != HashIndex::kAbsent) {
    StringEntry& entry = entries_[position];
    // The old bytes belong to this entry alone, so a text no longer than
    // them can take their place.
    uint8_t* bytes = length <= entry.length ? const_cast<uint8_t*>(entry.text)
                                            : allocate_text(length);
    if (length) std::memcpy(bytes, text.data(), length);
    const AddResult result{AddStatus::kReplaced, entry.origin,
                           entry.key_check == key.check};
    text_bytes_ = text_bytes_ - entry.length + length;
    entry = StringEntry{key_hash, key.check, bytes, length, origin};
    return result;
  }

  if (entries_.size() >= max_entries_) return {AddStatus::kTooManyEntries};
  uint8_t* bytes = allocate_text(length);
  if (length) std::memcpy(bytes, text.data(), length);
  entries_.push_back(StringEntry{key_hash, key.check, bytes, length, origin});
  text_bytes_ += length;
  index_.insert(key_hash, static_cast<uint32_t>(entries_.size() - 1),
                entries_.size(), hash_at_fn());
  return {AddStatus::kAdded};
}

}  // namespace stblc
