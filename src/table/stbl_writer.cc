// StringTable::write: the table as an STBL file, streamed through one
// buffer so that no copy of the whole file is ever held in memory.

#include <algorithm>
#include <memory>
#include <span>

#include "little_endian.h"
#include "prefetch.h"
#include "stbl_format.h"
#include "string_table.h"

namespace stblc {
namespace {

constexpr size_t kBufferSize = size_t{1} << 18;
constexpr size_t kTextsAhead = 16;

// Gathers bytes and hands them to the sink a full buffer at a time.
class BufferedWriter {
 public:
  // A small file gets a buffer of its own size: nothing to clear or map.
  BufferedWriter(ByteSink& sink, uint64_t file_size)
      : sink_(sink),
        capacity_(static_cast<size_t>(std::min<uint64_t>(
            kBufferSize, std::max<uint64_t>(file_size, stbl::kHeaderSize)))),
        buffer_(std::make_unique_for_overwrite<uint8_t[]>(capacity_)) {}

  // Room for at least `size` bytes, flushing first if needed; size must not
  // exceed the capacity, which is at least a header's or record head's. Null
  // once the sink has failed.
  uint8_t* reserve(size_t size) {
    if (capacity_ - used_ < size && !flush()) return nullptr;
    return buffer_.get() + used_;
  }
  void commit(size_t size) { used_ += size; }
  size_t room() const { return capacity_ - used_; }

  bool flush() {
    if (failed_) return false;
    if (used_ && !sink_.write(buffer_.get(), used_)) failed_ = true;
    used_ = 0;
    return !failed_;
  }

 private:
  ByteSink& sink_;
  size_t capacity_;
  std::unique_ptr<uint8_t[]> buffer_;
  size_t used_ = 0;
  bool failed_ = false;
};

}  // namespace

void widen_to_units(const uint8_t* text, size_t n, uint8_t* out) {
  // Plain indexed loop over distinct uint8_t arrays: compilers vectorise it.
  for (size_t i = 0; i < n; ++i) {
    const uint16_t unit = unit_of_byte(text[i]);
    out[2 * i] = static_cast<uint8_t>(unit);
    out[2 * i + 1] = static_cast<uint8_t>(unit >> 8);
  }
}

uint64_t StringTable::file_size() const {
  return stbl::kHeaderSize + uint64_t{count()} * stbl::kRecordHeaderSize +
         text_bytes_ * stbl::kUnitSize;
}

bool StringTable::write(ByteSink& sink) const {
  sink.expect(file_size());
  BufferedWriter out(sink, file_size());

  uint8_t* header = out.reserve(stbl::kHeaderSize);
  if (!header) return false;
  std::fill_n(header, stbl::kHeaderSize, 0);
  std::copy_n(stbl::kMagic, sizeof stbl::kMagic, header + stbl::kMagicOffset);
  header[stbl::kVersionOffset] = stbl::kVersion;
  put_u32le(header + stbl::kEntryCountOffset, count());
  out.commit(stbl::kHeaderSize);

  const std::span<const StringEntry> all = entries();
  for (size_t i = 0; i < all.size(); ++i) {
    const StringEntry& entry = all[i];
    // A replaced text may lie anywhere: fetching texts a few entries ahead
    // keeps the widening from waiting for them.
    if (i + kTextsAhead < all.size())
      prefetch_memory(all[i + kTextsAhead].text);
    uint8_t* record = out.reserve(stbl::kRecordHeaderSize);
    if (!record) return false;
    put_u64le(record + stbl::kRecordKeyHashOffset, entry.key_hash);
    put_u32le(record + stbl::kRecordLengthOffset, entry.length);
    out.commit(stbl::kRecordHeaderSize);

    // A long text is widened in pieces that fit the buffer.
    const uint8_t* text = entry.text;
    size_t left = entry.length;
    while (left) {
      if (out.room() < stbl::kUnitSize && !out.flush()) return false;
      const size_t n = std::min(left, out.room() / stbl::kUnitSize);
      uint8_t* units = out.reserve(n * stbl::kUnitSize);
      widen_to_units(text, n, units);
      out.commit(n * stbl::kUnitSize);
      text += n;
      left -= n;
    }
  }
  return out.flush();
}

}  // namespace stblc
