#include "diagnostic.h"

#include <gtest/gtest.h>

namespace stblc {
namespace {

SourceSnippet at(uint64_t line, uint64_t column, std::string text,
                 size_t caret) {
  SourceSnippet s;
  s.line = line;
  s.column = column;
  s.text = std::move(text);
  s.caret = caret;
  return s;
}

TEST(Diagnostic, PointsAtTheColumn) {
  EXPECT_EQ(format_diagnostic(
                "dir/in.txt", at(3, 16, "  <KEY>k</KEY>\t<STR>x", 15),
                Severity::kError, "Unterminated string after key 'k'!", false),
            "dir/in.txt:3:16: error: Unterminated string after key 'k'!\n"
            "    <KEY>k</KEY>\t<STR>x\n"
            "                \t^\n");
  EXPECT_EQ(format_diagnostic("a.txt", at(1, 1, "<KEY>", 0), Severity::kWarning,
                              "key 'x' is defined again", false),
            "a.txt:1:1: warning: key 'x' is defined again\n"
            "  <KEY>\n"
            "  ^\n");
}

TEST(Diagnostic, EscapesWhatWouldUpsetATerminal) {
  struct Case {
    std::string text;
    size_t caret;
    std::string shown;
    size_t marker_width;
  } cases[] = {
      {"a\x01"
       "b\x7F<",
       4, "a\\x01b\\x7F<", 10},
      {"\x1B[2J<", 4, "\\x1B[2J<", 7},
      {"caf\xC3\xA9 <", 6, "caf\xC3\xA9 <", 5},      // UTF-8 stays, one column
      {"\xE9<", 1, "\\xE9<", 4},                     // a lone Latin-1 byte
      {"\xC2\x9B<", 2, "\\xC2\\x9B<", 8},            // C1 control CSI
      {"\xED\xA0\x80<", 3, "\\xED\\xA0\\x80<", 12},  // encoded surrogate
  };
  for (const Case& c : cases) {
    const std::string out = format_diagnostic(
        "p", at(1, c.caret + 1, c.text, c.caret), Severity::kError, "m", false);
    EXPECT_EQ(out, "p:1:" + std::to_string(c.caret + 1) + ": error: m\n  " +
                       c.shown + "\n  " + std::string(c.marker_width, ' ') +
                       "^\n")
        << c.shown;
  }
}

TEST(Diagnostic, MarksCutLinesAndColours) {
  SourceSnippet s = at(7, 500, "xx<yy", 2);
  s.cut_before = true;
  s.cut_after = true;
  EXPECT_EQ(format_diagnostic("p", s, Severity::kError, "m", false),
            "p:7:500: error: m\n  ...xx<yy...\n       ^\n");
  EXPECT_EQ(
      format_diagnostic("p", at(1, 1, "<", 0), Severity::kWarning, "m", true),
      "p:1:1: \033[1;35mwarning\033[0m: m\n  <\n  \033[1;32m^\033[0m\n");
}

}  // namespace
}  // namespace stblc
