#include "scan_source.h"

#include <algorithm>
#include <cstring>

#include "pair_stream.h"

namespace stblc {
namespace {

// How far the scan moves on between two releases of what lies behind it.
constexpr size_t kReleaseStep = size_t{8} << 20;
// How many pairs ahead index slots are fetched.
constexpr size_t kPrefetchAhead = 16;

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
  // For the lines that diagnostics show; pairs come with their positions.
  LineTracker lines(source);
  const uint32_t file = context.file;
  ScanResult result;
  auto fail = [&](ScanErrorKind kind, std::string_view key, size_t offset) {
    result.error =
        ScanError{kind, std::string(key), offset, lines.snippet(offset)};
  };

  size_t released = 0;
  auto add = [&](const FoundPair& pair) {
    const AddResult added =
        table.put(pair.hashes, pair.text, Origin{file, pair.line, pair.column});
    switch (added.status) {
      case AddStatus::kAdded:
        break;
      case AddStatus::kReplaced:
        if (context.warn && (!added.same_key || added.previous.file == file)) {
          context.warn(
              ScanWarning{added.same_key ? ScanWarning::Kind::kKeyRedefined
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

  PairStream stream(source);
  for (;;) {
    const PairBatch& batch = stream.next();
    const std::vector<FoundPair>& pairs = batch.pairs;
    // Each pair's index slot is asked for a few pairs before it is needed,
    // and, once that has arrived, the entry of a key given before, so that
    // neither is waited for.
    for (size_t i = 0; i < std::min(kPrefetchAhead, pairs.size()); ++i) {
      table.prefetch(pairs[i].hashes.key_hash);
    }
    for (size_t i = 0; i < pairs.size(); ++i) {
      if (i + kPrefetchAhead < pairs.size()) {
        table.prefetch(pairs[i + kPrefetchAhead].hashes.key_hash);
      }
      if (i + kPrefetchAhead / 2 < pairs.size()) {
        table.prefetch_entry(pairs[i + kPrefetchAhead / 2].hashes.key_hash);
      }
      if (!add(pairs[i])) return result;
    }
    if (const auto& error = batch.error) {
      fail(error->kind, error->key, error->offset);
    }
    if (batch.last) return result;
  }
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
