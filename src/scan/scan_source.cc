#include "scan_source.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "pair_finder.h"

namespace stblc {
namespace {

// How far the scan moves on between two releases of what lies behind it.
constexpr size_t kReleaseStep = size_t{8} << 20;

uint32_t saturated(uint64_t n) {
  return static_cast<uint32_t>(std::min<uint64_t>(n, UINT32_MAX));
}

Origin origin(LineTracker& lines, uint32_t file, size_t key_tag) {
  uint64_t line;
  uint64_t column;
  lines.position(key_tag, &line, &column);
  return Origin{file, saturated(line), saturated(column)};
}

std::string quoted(std::string_view s) {
  std::string out = "'";
  out.append(s);
  out.push_back('\'');
  return out;
}

}  // namespace

bool is_syntax_error(ScanErrorKind kind) {
  return kind != ScanErrorKind::kTextTooLong &&
         kind != ScanErrorKind::kTooManyEntries;
}

std::string scan_error_message(const ScanError& error) {
  const std::string key = quoted(error.key);
  switch (error.kind) {
    case ScanErrorKind::kUnterminatedKey:
      return "Unterminated key found!\n";
    case ScanErrorKind::kBleedingKey:
      return "Bleeding key " + key + " found!\n";
    case ScanErrorKind::kEmptyKey:
      return "Empty key found!\n";
    case ScanErrorKind::kKeyWithoutEntry:
      return "Key " + key + " has no entry!\n";
    case ScanErrorKind::kUnterminatedString:
      return "Unterminated string after key " + key + "!\n";
    case ScanErrorKind::kBleedingString:
      return "Bleeding string in key " + key + "!\n";
    case ScanErrorKind::kTextTooLong:
      return "Text of key " + key + " is longer than 4294967295 bytes!\n";
    case ScanErrorKind::kTooManyEntries:
      return "Too many entries: no room for key " + key +
             " (at most 4294967295)!\n";
  }
  return "Unknown scan error!\n";
}

ScanResult scan_buffer(std::string_view source, StringTable& table,
                       const ScanContext& context) {
  // Nothing after the first zero byte is ever looked at.
  if (const void* zero = std::memchr(source.data(), 0, source.size())) {
    source = source.substr(0, static_cast<const char*>(zero) - source.data());
  }
  LineTracker lines(source);
  const uint32_t file = context.file;
  ScanResult result;
  auto fail = [&](ScanErrorKind kind, std::string_view key, size_t offset) {
    result.error =
        ScanError{kind, std::string(key), offset, lines.snippet(offset)};
  };

  // A well-formed pair is added only once the next one has been found: its
  // index slot, prefetched when it was found, has then had time to arrive
  // from memory.
  struct Pair {
    std::string_view key;
    std::string_view text;
    KeyHashes hashes;
    size_t key_tag;
  };
  std::optional<Pair> pending;
  size_t released = 0;
  auto add_pending = [&]() {
    if (!pending) return true;
    const Pair pair = *std::exchange(pending, std::nullopt);
    const AddResult added =
        table.put(pair.hashes, pair.text, origin(lines, file, pair.key_tag));
    switch (added.status) {
      case AddStatus::kAdded:
        break;
      case AddStatus::kReplaced:
        if (context.warn && (!added.same_key || added.previous.file == file)) {
          context.warn(ScanWarning{
              added.same_key ? ScanWarning::Kind::kKeyRedefined
                             : ScanWarning::Kind::kHashCollision,
              pair.key, added.previous, &lines, pair.key_tag});
        }
        break;
      case AddStatus::kTextTooLong:
        fail(ScanErrorKind::kTextTooLong, pair.key, pair.key_tag);
        return false;
      case AddStatus::kTooManyEntries:
        fail(ScanErrorKind::kTooManyEntries, pair.key, pair.key_tag);
        return false;
    }
    ++result.count;
    if (context.on_key) context.on_key(pair.key, pair.hashes.key_hash);
    if (context.release && pair.key_tag - released >= kReleaseStep) {
      context.release(pair.key_tag);
      released = pair.key_tag;
    }
    return true;
  };
  // Adds the pending pair, then records the error, unless adding failed.
  auto stop = [&](ScanErrorKind kind, std::string_view key, size_t offset) {
    if (add_pending()) fail(kind, key, offset);
    return result;
  };

  size_t cursor = 0;
  while (cursor < source.size()) {
    PairTags tags;
    PairError error;
    const PairSearch found = find_pair(source, cursor, &tags, &error);
    if (found == PairSearch::kEnd) break;
    if (found == PairSearch::kError) {
      return stop(error.kind, error.key, error.offset);
    }
    const size_t key_start = tags.key_tag + kKeyOpen.size();
    const size_t text_start = tags.str_tag + kStrOpen.size();
    // An empty text adds nothing and leaves an earlier text of the key.
    if (tags.text_end > text_start) {
      const std::string_view key =
          source.substr(key_start, tags.key_end - key_start);
      const KeyHashes hashes = hash_key_twice(key);
      table.prefetch(hashes.key_hash);
      if (!add_pending()) return result;
      pending = Pair{key,
                     source.substr(text_start, tags.text_end - text_start),
                     hashes, tags.key_tag};
    }
    cursor = tags.text_end + kStrClose.size();
  }
  add_pending();
  return result;
}

SourceScan scan_source(StringTable& table, const char* path,
                       ScanContext context) {
  SourceScan scan;
  ReadResult read = read_source(path);
  scan.read_status = read.status;
  scan.read_error = read.error_number;
  if (read.status == ReadStatus::kRead) {
    SourceFile& file = read.file;
    context.release = [&file](size_t offset) { file.release_before(offset); };
    scan.result = scan_buffer(file.bytes(), table, context);
  }
  return scan;
}

}  // namespace stblc
