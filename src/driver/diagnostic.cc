#include "diagnostic.h"

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace stblc {
namespace {

constexpr char kRed[] = "\033[1;31m";
constexpr char kMagenta[] = "\033[1;35m";
constexpr char kGreen[] = "\033[1;32m";
constexpr char kReset[] = "\033[0m";

// Length of the UTF-8 sequence at s[i] if it is well-formed and encodes a
// printable code point (not a C1 control), else 0.
size_t printable_utf8_length(std::string_view s, size_t i) {
  const auto b = [&](size_t k) { return static_cast<uint8_t>(s[i + k]); };
  const uint8_t lead = b(0);
  size_t n;
  uint32_t cp;
  if (lead >= 0xC2 && lead <= 0xDF) {
    n = 2, cp = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    n = 3, cp = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    n = 4, cp = lead & 0x07;
  } else {
    return 0;
  }
  if (i + n > s.size()) return 0;
  for (size_t k = 1; k < n; ++k) {
    if ((b(k) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b(k) & 0x3F);
  }
  const bool overlong = (n == 3 && cp < 0x800) || (n == 4 && cp < 0x10000);
  const bool surrogate = cp >= 0xD800 && cp <= 0xDFFF;
  if (overlong || surrogate || cp > 0x10FFFF || cp < 0xA0) return 0;
  return n;
}

// The line as it is safe to show, and under it a caret at byte `caret`:
// tabs stay tabs in both lines so that the caret lines up.
void echo(std::string_view line, size_t caret, std::string* shown,
          std::string* marker) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  const auto plain = [](char c) { return c >= 0x20 && c < 0x7F; };
  for (size_t i = 0; i < line.size();) {
    // A run of printable ASCII, the common case, goes over in one piece.
    size_t run = i;
    while (run < line.size() && plain(line[run])) ++run;
    if (run > i) {
      shown->append(line.substr(i, run - i));
      if (i < caret) marker->append(std::min(run, caret) - i, ' ');
      i = run;
      continue;
    }
    const auto c = static_cast<uint8_t>(line[i]);
    size_t n = 1;
    size_t width = 1;
    if (c == '\t') {
      shown->push_back('\t');
    } else if ((n = printable_utf8_length(line, i)) != 0) {
      shown->append(line.substr(i, n));
    } else {
      n = 1;
      width = 4;
      shown->append({'\\', 'x', kHex[c >> 4], kHex[c & 15]});
    }
    if (i < caret) marker->append(width, c == '\t' ? '\t' : ' ');
    i += n;
  }
}

}  // namespace

std::string format_diagnostic(std::string_view path, const SourceSnippet& where,
                              Severity severity, std::string_view message,
                              bool colour) {
  const bool error = severity == Severity::kError;
  std::string out(path);
  for (uint64_t n : {where.line, where.column}) {
    out += ':';
    out += std::to_string(n);
  }
  out += ": ";
  if (colour) out += error ? kRed : kMagenta;
  out += error ? "error" : "warning";
  if (colour) out += kReset;
  out += ": ";
  out.append(message);
  out += "\n";

  std::string shown = where.cut_before ? "..." : "";
  std::string marker(shown.size(), ' ');
  echo(where.text, where.caret, &shown, &marker);
  if (where.cut_after) shown += "...";
  out += "  " + shown + "\n  " + marker;
  if (colour) out += kGreen;
  out += "^";
  if (colour) out += kReset;
  out += "\n";
  return out;
}

bool stderr_wants_colour() {
  return isatty(STDERR_FILENO) && std::getenv("NO_COLOR") == nullptr;
}

}  // namespace stblc
