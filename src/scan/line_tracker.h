// Line and column of byte offsets in a source, and the source line around
// them, for diagnostics. Offsets are asked for in increasing order, so the
// whole source is counted once however many pairs it has.

#ifndef STBLC_SCAN_LINE_TRACKER_H_
#define STBLC_SCAN_LINE_TRACKER_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace stblc {

// A place in a source and the line it stands in.
struct SourceSnippet {
  uint64_t line = 0;    // from 1, counting line feeds
  uint64_t column = 0;  // from 1, in bytes after the last line feed
  // The line's bytes without its line break; for a very long line only a
  // window around the column, with cut_before and cut_after telling so.
  std::string text;
  size_t caret = 0;  // index in text of the byte at the column
  bool cut_before = false;
  bool cut_after = false;
};

class LineTracker {
 public:
  explicit LineTracker(std::string_view source) : source_(source) {}

  // Line and column of offset; in both calls, offsets must not decrease
  // from one call to the next.
  void position(size_t offset, uint64_t* line, uint64_t* column);
  // The same, with the line it stands in.
  SourceSnippet snippet(size_t offset);

 private:
  std::string_view source_;
  size_t counted_to_ = 0;  // line feeds before this offset are counted
  uint64_t line_ = 1;      // line of offset counted_to_
  size_t line_start_ = 0;  // where that line starts
};

}  // namespace stblc

#endif  // STBLC_SCAN_LINE_TRACKER_H_
