#include "line_tracker.h"

#include <algorithm>
#include <cstring>

namespace stblc {
namespace {

// How much of a long line is shown on each side of the column.
constexpr size_t kWindow = 80;

}  // namespace

void LineTracker::position(size_t offset, uint64_t* line, uint64_t* column) {
  offset = std::min(offset, source_.size());
  // Lines are short next to a pair, so one vectorised search per line feed
  // is the cheapest way to count them and to learn where the last one ends.
  const char* data = source_.data();
  const char* end = data + offset;
  for (const char* p = data + counted_to_;
       (p = static_cast<const char*>(std::memchr(p, '\n', end - p)));) {
    ++line_;
    line_start_ = static_cast<size_t>(++p - data);
  }
  counted_to_ = offset;
  *line = line_;
  *column = offset - line_start_ + 1;
}

SourceSnippet LineTracker::snippet(size_t offset) {
  SourceSnippet where;
  position(offset, &where.line, &where.column);
  offset = std::min(offset, source_.size());
  const char* data = source_.data();
  const size_t from = std::max(line_start_, offset - std::min(offset, kWindow));
  const size_t limit = std::min(source_.size(), offset + kWindow);
  const void* feed = std::memchr(data + offset, '\n', limit - offset);
  size_t to = feed ? static_cast<const char*>(feed) - data : limit;
  where.cut_before = from > line_start_;
  where.cut_after = !feed && limit < source_.size() && data[limit] != '\n';
  // A CR before the line feed belongs to the line break, not the line.
  if (feed && to > from && data[to - 1] == '\r') --to;
  where.text.assign(data + from, to - from);
  where.caret = offset - from;
  return where;
}

}  // namespace stblc
