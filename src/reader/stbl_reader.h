// Reading STBL files (format in stbl_format.h): validates a whole file and
// gives its entries in file order, lookup by key or by key hash in O(1) on
// average, and each text as UTF-16 units or as UTF-8.
//
// Texts are not copied: the reader keeps the file's bytes (mapped, or read
// once) and an index of where each record lies.
//
// Failures are values: open() and parse() return false and error() names
// the byte offset and what was wrong. A flaw that does not stop the file
// from being read (non-zero reserved bytes) is kept in warnings(). Whatever
// the bytes, the reader never reads outside them and never allocates more
// than their size justifies.

#ifndef STBLC_READER_STBL_READER_H_
#define STBLC_READER_STBL_READER_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace stblc {

// One record of the file.
struct StblRecord {
  uint64_t key_hash;
  uint32_t length;      // UTF-16 units
  size_t units_offset;  // where the units start in the file
};

// A problem at a byte offset of the file.
struct StblIssue {
  size_t offset;
  std::string message;
};

class StblReader {
 public:
  StblReader();
  ~StblReader();
  StblReader(StblReader&&) noexcept;
  StblReader& operator=(StblReader&&) noexcept;

  // Reads the file at path (any readable file, pipes too) and validates it.
  bool open(const std::string& path);
  // Validates bytes that the caller keeps alive as long as the reader.
  bool parse(std::span<const uint8_t> bytes);

  // Why open() or parse() failed; the offset is 0 when the file could not
  // be read at all.
  const StblIssue& error() const;
  const std::vector<StblIssue>& warnings() const;

  uint8_t version() const;
  uint32_t entry_count() const;
  size_t file_size() const;
  // The records in file order.
  std::span<const StblRecord> records() const;

  // The record of a key (through hash_key, so ASCII capitals and small
  // letters find the same text) or of a key hash; null if there is none.
  const StblRecord* find_key(std::string_view key) const;
  const StblRecord* find(uint64_t key_hash) const;

  // The record's text as UTF-16 units, and as UTF-8: surrogate pairs are
  // combined, an unpaired surrogate becomes U+FFFD.
  std::u16string utf16(const StblRecord& record) const;
  std::string utf8(const StblRecord& record) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Appends code point cp to out as UTF-8.
void append_utf8(char32_t cp, std::string* out);

}  // namespace stblc

#endif  // STBLC_READER_STBL_READER_H_
