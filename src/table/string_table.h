// StringTable: the compiled texts of one run, keyed by the 64-bit hash of
// their keys, in the order in which each key hash first arrived, and its
// writer to the STBL format (stbl_format.h).
//
// Failures are values: add() and put() return an AddStatus naming a limit
// of the format that the text would break, write() returns false once the
// sink has failed. Memory exhaustion is left to operator new and its
// new-handler (std::bad_alloc where none is set).
//
// Each entry remembers where its text came from and a second hash of its
// key, so that a replacement can tell a key given again from a different
// key whose hash happens to be equal.

#ifndef STBLC_TABLE_STRING_TABLE_H_
#define STBLC_TABLE_STRING_TABLE_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "growing_array.h"
#include "hash_index.h"
#include "hash_key.h"
#include "large_allocator.h"
#include "stbl_format.h"

namespace stblc {

// Where a text came from: the input's position among the inputs, and the
// line and column (from 1) of its pair's <KEY>. Line and column saturate.
struct Origin {
  uint32_t file = 0;
  uint32_t line = 0;
  uint32_t column = 0;
};

// One compiled text. The table keeps the text's source bytes and converts
// them to UTF-16 units only while writing, which halves its memory.
struct StringEntry {
  uint64_t key_hash;
  uint64_t key_check;   // second hash of the key (see hash_key_twice)
  const uint8_t* text;  // `length` source bytes, owned by the table
  uint32_t length;      // source bytes, and so UTF-16 units in the file
  Origin origin;
};

enum class AddStatus : uint8_t {
  kAdded,           // a new key hash, appended after the others
  kReplaced,        // the key hash was there: its text replaced in place
  kTextTooLong,     // the text has more bytes than a length field holds
  kTooManyEntries,  // a new entry would not fit the entry count field
};

struct AddResult {
  AddStatus status;
  // For kReplaced: where the replaced text came from, and whether it was
  // stored under the same key (false: a different key, equal key hash).
  Origin previous = {};
  bool same_key = true;
};

// Receives the bytes of an STBL file, in order. write() returns false when
// the bytes could not be taken; the caller keeps the reason.
class ByteSink {
 public:
  virtual ~ByteSink() = default;
  // Told, before the first write, how many bytes will follow; a sink may
  // prepare room for them. Only a hint.
  virtual void expect(uint64_t /*size*/) {}
  virtual bool write(const uint8_t* data, size_t size) = 0;
};

// Collects the bytes in memory.
class StringSink : public ByteSink {
 public:
  bool write(const uint8_t* data, size_t size) override {
    bytes.append(reinterpret_cast<const char*>(data), size);
    return true;
  }
  std::string bytes;
};

// The unit a source byte becomes: 0x95 is BULLET (U+2022), every other byte
// is zero-extended.
constexpr uint16_t unit_of_byte(uint8_t b) { return b == 0x95 ? 0x2022 : b; }

// Writes n units for n source bytes, each as two little-endian bytes.
void widen_to_units(const uint8_t* text, size_t n, uint8_t* out);

class StringTable {
 public:
  // max_entries lowers the entry limit below the format's, for tests.
  explicit StringTable(uint64_t max_entries = stbl::kMaxEntries);
  ~StringTable();
  StringTable(const StringTable&) = delete;
  StringTable& operator=(const StringTable&) = delete;

  // Stores the text under hash_key(key), or replaces the text already
  // stored under that hash, keeping the entry's position. Copies the text.
  AddResult add(std::string_view key, std::string_view text,
                Origin origin = {});
  AddResult put(const KeyHashes& key, std::string_view text, Origin origin);

  // Starts loading the index slot of key_hash into the cache, so that a
  // put() of it shortly after does not wait for memory.
  void prefetch(uint64_t key_hash) const;
  // Once that slot has arrived: starts loading the entry that key_hash
  // probably has, which a put() of a key given again will replace.
  void prefetch_entry(uint64_t key_hash) const;

  uint32_t count() const { return static_cast<uint32_t>(entries_.size()); }
  std::span<const StringEntry> entries() const { return entries_.span(); }
  // The entry stored under key_hash, or null.
  const StringEntry* find(uint64_t key_hash) const;

  // The size of the STBL file that write() writes.
  uint64_t file_size() const;

  // Writes the whole table as an STBL file, streaming it through a buffer.
  // Returns false as soon as the sink fails.
  bool write(ByteSink& sink) const;

 private:
  // The key hash at a position, as the index asks for it.
  auto hash_at_fn() const {
    return [this](uint32_t position) { return entries_[position].key_hash; };
  }
  uint8_t* allocate_text(size_t size);

  uint64_t max_entries_;
  GrowingArray<StringEntry> entries_;
  HashIndex index_;  // key hash to position in entries_

  // Texts live in large blocks; a replaced text's bytes are reused when the
  // new text fits them, otherwise left unused until the table goes.
  struct Block {
    uint8_t* bytes;
    size_t size;
  };
  std::vector<Block> blocks_;
  uint64_t text_bytes_ = 0;  // the lengths of the entries' texts, summed
  uint8_t* block_free_ = nullptr;
  size_t block_left_ = 0;
};

}  // namespace stblc

#endif  // STBLC_TABLE_STRING_TABLE_H_
