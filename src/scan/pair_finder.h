// Finds the tagged pairs of a source one after another:
//   <KEY>key</KEY> ... <STR>text</STR>
// A malformed pair comes back as a value naming what is wrong and where;
// nothing is printed.

#ifndef STBLC_SCAN_PAIR_FINDER_H_
#define STBLC_SCAN_PAIR_FINDER_H_

#include <cstddef>
#include <string_view>

#include "scan_source.h"

namespace stblc {

inline constexpr std::string_view kKeyOpen = "<KEY>";
inline constexpr std::string_view kKeyClose = "</KEY>";
inline constexpr std::string_view kStrOpen = "<STR>";
inline constexpr std::string_view kStrClose = "</STR>";

// Offsets of a pair's four tags in the source.
struct PairTags {
  size_t key_tag;   // <KEY>
  size_t key_end;   // </KEY>
  size_t str_tag;   // <STR>
  size_t text_end;  // </STR>
};

// A malformed pair: the scanner's error without its location text.
struct PairError {
  ScanErrorKind kind;
  std::string_view key;
  size_t offset;
};

enum class PairSearch { kPair, kEnd, kError };

// The first pair whose <KEY> lies at or after cursor: kPair with its tags,
// kEnd when no <KEY> follows, kError when that pair is malformed.
PairSearch find_pair(std::string_view source, size_t cursor, PairTags* tags,
                     PairError* error);

}  // namespace stblc

#endif  // STBLC_SCAN_PAIR_FINDER_H_
