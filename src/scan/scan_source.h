// The scanner of tagged source files: finds every
//   <KEY>key</KEY> ... <STR>text</STR>
// pair by forward tag search and adds each pair with a non-empty text to a
// StringTable. Scanning stops at the end of the bytes or at the first zero
// byte, whichever comes first.
//
// Nothing here prints or exits: the first malformed pair, a text or entry
// the table cannot hold, and a file that cannot be read all come back as
// values for the caller to report. Texts that replace others in a way that
// suggests a mistake are handed to a warning callback as they happen.

#ifndef STBLC_SCAN_SCAN_SOURCE_H_
#define STBLC_SCAN_SCAN_SOURCE_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "line_tracker.h"
#include "source_file.h"
#include "string_table.h"

namespace stblc {

enum class ScanErrorKind {
  // Malformed sources, in the order the scanner checks for them.
  kUnterminatedKey,     // a <KEY> without any later </KEY>
  kBleedingKey,         // another <KEY> before the key's </KEY>
  kEmptyKey,            // nothing between <KEY> and </KEY>
  kKeyWithoutEntry,     // no <STR> after the key's </KEY>
  kUnterminatedString,  // a <STR> without any later </STR>
  kBleedingString,      // another <STR> before the text's </STR>
  // Well-formed, but beyond what an STBL file can hold.
  kTextTooLong,
  kTooManyEntries,
};

struct ScanError {
  ScanErrorKind kind;
  // The key; for kBleedingKey the bytes between the two <KEY> tags; empty
  // where the message names no key.
  std::string key;
  // Offset in the source of the tag the error points at: the key's <KEY>,
  // or the second <KEY> or <STR> of a bleeding key or text, or the <STR>
  // that opens an unterminated text.
  size_t offset;
  SourceSnippet where;  // line and column of offset, and its line
};

// True for the six malformed-source errors, false for the table's limits.
bool is_syntax_error(ScanErrorKind kind);

// The error's message, ending with a line break.
std::string scan_error_message(const ScanError& error);

struct ScanWarning {
  enum class Kind {
    kKeyRedefined,   // the same key again, in the same file
    kHashCollision,  // a different key with an equal key hash, any file
  };
  Kind kind;
  std::string_view key;  // the later key
  Origin previous;       // the <KEY> of the text it replaces
  // The later pair's <KEY> and the line it stands in. Worked out only when
  // asked for, since most warnings of a flood are only counted, and only
  // while the handler runs.
  SourceSnippet where() const { return lines->snippet(key_tag); }
  LineTracker* lines;
  size_t key_tag;
};
using WarningHandler = std::function<void(const ScanWarning&)>;

// What a scan needs besides the bytes and the table; all of it optional.
struct ScanContext {
  uint32_t file = 0;    // recorded as the origin of the texts added
  WarningHandler warn;  // told of texts that replace others by mistake
  // Told of every pair added, with its key: for tools that label hashes.
  std::function<void(std::string_view key, uint64_t key_hash)> on_key;
  // Told now and then of an offset before which the scan will not read
  // again (unless to show a diagnostic), so that memory can be released.
  std::function<void(size_t)> release;
};

struct ScanResult {
  uint64_t count = 0;  // pairs added, including those that replaced a text
  std::optional<ScanError> error;
};

// Scans source bytes into the table. Pairs before a malformed one stay
// added.
ScanResult scan_buffer(std::string_view source, StringTable& table,
                       const ScanContext& context = {});

struct SourceScan {
  ReadStatus read_status = ReadStatus::kRead;
  int read_error = 0;  // errno, when read_status is not kRead
  ScanResult result;   // meaningful when read_status is kRead
};

// Reads the file at path whole, then scans it into the table.
SourceScan scan_source(StringTable& table, const char* path,
                       ScanContext context = {});

}  // namespace stblc

#endif  // STBLC_SCAN_SCAN_SOURCE_H_
