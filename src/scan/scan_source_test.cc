#include "scan_source.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <string>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "hash_key.h"
#include "temp_dir_test.h"

namespace stblc {
namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

// The table's entries as (hash, text), to compare with expected pairs.
std::vector<std::pair<uint64_t, std::string>> contents(const StringTable& t) {
  std::vector<std::pair<uint64_t, std::string>> out;
  for (const StringEntry& e : t.entries()) {
    out.emplace_back(
        e.key_hash,
        std::string(reinterpret_cast<const char*>(e.text), e.length));
  }
  return out;
}

std::vector<std::pair<uint64_t, std::string>> hashed(const Pairs& pairs) {
  std::vector<std::pair<uint64_t, std::string>> out;
  for (const auto& [key, text] : pairs) out.emplace_back(hash_key(key), text);
  return out;
}

struct GoodCase {
  const char* name;
  std::string source;
  uint64_t count;
  Pairs table;  // the table afterwards, in order
};

TEST(ScanBuffer, WellFormedSources) {
  using namespace std::string_literals;
  const GoodCase cases[] = {
      {"empty", "", 0, {}},
      {"no key", "just a comment </KEY> <STR>x</STR>", 0, {}},
      {"one pair", "<KEY>abc</KEY><STR>Hi</STR>", 1, {{"abc", "Hi"}}},
      {"comments and layout",
       "# menu\n<KEY>a</KEY> = <STR>1</STR>\nnote\n<KEY>b</KEY>\n<STR>2</STR>",
       2,
       {{"a", "1"}, {"b", "2"}}},
      {"key bytes verbatim",
       "<KEY>\r\nMenu\r\n</KEY><STR>x</STR>",
       1,
       {{"\r\nMenu\r\n", "x"}}},
      {"multi-line text",
       "<KEY>k</KEY><STR>line 1\r\nline 2</STR>",
       1,
       {{"k", "line 1\r\nline 2"}}},
      {"empty text adds nothing",
       "<KEY>k</KEY><STR>kept</STR><KEY>K</KEY><STR></STR>",
       1,
       {{"k", "kept"}}},
      {"case folded key replaces in place",
       "<KEY>Title</KEY><STR>1</STR><KEY>x</KEY><STR>2</STR>"
       "<KEY>TITLE</KEY><STR>3</STR>",
       3,
       {{"title", "3"}, {"x", "2"}}},
      {"search for <STR> runs past a later key",
       "<KEY>a</KEY><KEY>b</KEY><STR>x</STR>",
       1,
       {{"a", "x"}}},
      {"text holds key tags",
       "<KEY>k</KEY><STR><KEY>a</KEY></STR>",
       1,
       {{"k", "<KEY>a</KEY>"}}},
      {"key holds text tags",
       "<KEY>a<STR>b</STR></KEY><STR>t</STR>",
       1,
       {{"a<STR>b</STR>", "t"}}},
      {"zero byte between pairs ends the file",
       "<KEY>a</KEY><STR>1</STR>\0<KEY>b</KEY><STR>2</STR>"s,
       1,
       {{"a", "1"}}},
      {"zero byte before any key", "\0<KEY>a</KEY><STR>1</STR>"s, 0, {}},
      {"lower-case tags are text", "<key>a</key><str>1</str>", 0, {}},
      {"text of bytes above 0x7F",
       "<KEY>k</KEY><STR>\x95\x93\xC4</STR>",
       1,
       {{"k", "\x95\x93\xC4"}}},
  };
  for (const GoodCase& c : cases) {
    StringTable table;
    ScanResult r = scan_buffer(c.source, table);
    EXPECT_FALSE(r.error) << c.name;
    EXPECT_EQ(r.count, c.count) << c.name;
    EXPECT_EQ(contents(table), hashed(c.table)) << c.name;
  }
}

struct BadCase {
  std::string source;
  ScanErrorKind kind;
  std::string key;
  size_t offset;
  std::string message;
};

TEST(ScanBuffer, FirstMalformedPairStopsTheScan) {
  using namespace std::string_literals;
  using K = ScanErrorKind;
  const BadCase cases[] = {
      {"<KEY>abc", K::kUnterminatedKey, "", 0, "Unterminated key found!\n"},
      {"<KEY>a\0</KEY>"s, K::kUnterminatedKey, "", 0,
       "Unterminated key found!\n"},
      {"x<KEY>a<KEY>b</KEY>", K::kBleedingKey, "a", 7,
       "Bleeding key 'a' found!\n"},
      {"<KEY><KEY>x</KEY>", K::kBleedingKey, "", 5, "Bleeding key '' found!\n"},
      {"ab<KEY></KEY><STR>x</STR>", K::kEmptyKey, "", 2, "Empty key found!\n"},
      {"<KEY>a</KEY>", K::kKeyWithoutEntry, "a", 0, "Key 'a' has no entry!\n"},
      {"<KEY>a</KEY>\0<STR>x</STR>"s, K::kKeyWithoutEntry, "a", 0,
       "Key 'a' has no entry!\n"},
      {"<KEY>a</KEY> <STR>text", K::kUnterminatedString, "a", 13,
       "Unterminated string after key 'a'!\n"},
      {"<KEY>a</KEY><STR>x\0</STR>"s, K::kUnterminatedString, "a", 12,
       "Unterminated string after key 'a'!\n"},
      {"<KEY>a</KEY><STR>x<STR>y</STR>", K::kBleedingString, "a", 18,
       "Bleeding string in key 'a'!\n"},
      {"<KEY>ok</KEY><STR>1</STR><KEY>b</KEY>", K::kKeyWithoutEntry, "b", 25,
       "Key 'b' has no entry!\n"},
  };
  for (const BadCase& c : cases) {
    StringTable table;
    ScanResult r = scan_buffer(c.source, table);
    ASSERT_TRUE(r.error) << c.message;
    EXPECT_EQ(r.error->kind, c.kind) << c.message;
    EXPECT_TRUE(is_syntax_error(r.error->kind));
    EXPECT_EQ(r.error->key, c.key) << c.message;
    EXPECT_EQ(r.error->offset, c.offset) << c.message;
    EXPECT_EQ(scan_error_message(*r.error), c.message);
  }
  // Pairs before the faulty one were added.
  StringTable table;
  EXPECT_EQ(scan_buffer("<KEY>ok</KEY><STR>1</STR><KEY>b</KEY>", table).count,
            1u);
  EXPECT_EQ(table.count(), 1u);
}

TEST(ScanBuffer, ErrorsKnowTheirLineAndColumn) {
  StringTable table;
  const ScanResult r = scan_buffer(
      "<KEY>a</KEY><STR>1</STR>\r\n\n  <KEY>k</KEY>\t<STR>unterminated\r\n",
      table);
  ASSERT_TRUE(r.error);
  EXPECT_EQ(r.error->where.line, 3u);
  EXPECT_EQ(r.error->where.column, 16u);  // the <STR>, bytes counted
  EXPECT_EQ(r.error->where.text, "  <KEY>k</KEY>\t<STR>unterminated");
  EXPECT_EQ(r.error->where.caret, 15u);
  EXPECT_FALSE(r.error->where.cut_before || r.error->where.cut_after);

  // The line shown ends where the source does, at its first zero byte.
  using namespace std::string_literals;
  StringTable other;
  const ScanResult cut =
      scan_buffer("<KEY>a</KEY><STR>x\0after</STR>\n"s, other);
  ASSERT_TRUE(cut.error);
  EXPECT_EQ(cut.error->where.text, "<KEY>a</KEY><STR>x");
  EXPECT_FALSE(cut.error->where.cut_after);
}

// In a large source the zero byte is looked for only as far as the search
// has gone; the answer must be the same as if it were known at the start.
TEST(ScanBuffer, ZeroByteFarIntoALargeSource) {
  using namespace std::string_literals;
  std::string pairs;
  uint64_t count = 0;
  while (pairs.size() < (size_t{6} << 20)) {
    pairs += "<KEY>k" + std::to_string(count++) + "</KEY><STR>t</STR>\n";
  }
  const std::string big(size_t{5} << 20, 'x');

  StringTable table;
  const ScanResult r = scan_buffer(pairs + "<KEY>big</KEY><STR>" + big +
                                       "</STR>\0<KEY>after</KEY><STR>t</STR>"s,
                                   table);
  EXPECT_FALSE(r.error);
  EXPECT_EQ(r.count, count + 1);
  ASSERT_TRUE(table.find(hash_key("big")));
  EXPECT_EQ(table.find(hash_key("big"))->length, big.size());
  EXPECT_FALSE(table.find(hash_key("after")));

  // The text's closing tag lies past the zero byte.
  StringTable other;
  const ScanResult cut =
      scan_buffer(pairs + "<KEY>big</KEY><STR>" + big + "\0</STR>"s, other);
  ASSERT_TRUE(cut.error);
  EXPECT_EQ(cut.error->kind, ScanErrorKind::kUnterminatedString);
  EXPECT_EQ(cut.error->offset, pairs.size() + 14);
  EXPECT_EQ(other.count(), count);
}

TEST(LineTracker, ShowsAWindowOfALongLine) {
  const std::string line =
      std::string(1000, 'a') + "<" + std::string(1000, 'b');
  // Not a temporary: the tracker keeps a view of its source.
  const std::string source = "x\n" + line + "\nnext";
  LineTracker tracker(source);
  const SourceSnippet s = tracker.snippet(2 + 1000);
  EXPECT_EQ(s.line, 2u);
  EXPECT_EQ(s.column, 1001u);
  EXPECT_TRUE(s.cut_before);
  EXPECT_TRUE(s.cut_after);
  EXPECT_EQ(s.text[s.caret], '<');
  EXPECT_LE(s.text.size(), 200u);
  const SourceSnippet end = tracker.snippet(source.size());
  EXPECT_EQ(end.line, 3u);
  EXPECT_EQ(end.column, 5u);
  EXPECT_EQ(end.text, "next");
}

struct Warning {
  ScanWarning::Kind kind;
  std::string key;
  uint64_t line, column;
  uint32_t previous_file, previous_line, previous_column;
  bool operator==(const Warning&) const = default;
};

std::vector<Warning> scan_files(const std::vector<std::string>& files) {
  std::vector<Warning> warnings;
  StringTable table;
  for (uint32_t i = 0; i < files.size(); ++i) {
    ScanContext context;
    context.file = i;
    context.warn = [&](const ScanWarning& w) {
      const SourceSnippet where = w.where();
      warnings.push_back(Warning{w.kind, std::string(w.key), where.line,
                                 where.column, w.previous.file, w.previous.line,
                                 w.previous.column});
    };
    scan_buffer(files[i], table, context);
  }
  return warnings;
}

TEST(ScanBuffer, WarnsOfTextsThatWouldBeLost) {
  using K = ScanWarning::Kind;
  // The same key again in one file.
  EXPECT_EQ(scan_files({"<KEY>Title</KEY><STR>1</STR>\n"
                        "  <KEY>TITLE</KEY><STR>2</STR>"}),
            std::vector<Warning>({{K::kKeyRedefined, "TITLE", 2, 3, 0, 1, 1}}));
  // Across files a repeated key is an override; empty texts add nothing.
  EXPECT_EQ(scan_files({"<KEY>a</KEY><STR>1</STR>",
                        "<KEY>a</KEY><STR>2</STR><KEY>a</KEY><STR></STR>"}),
            std::vector<Warning>());
  // Different keys with equal hashes, in one file or across files.
  EXPECT_EQ(scan_files({"<KEY>arhf1ny1xxxde</KEY><STR>1</STR>\n"
                        "<KEY>k5jbiahaumijm</KEY><STR>2</STR>"}),
            std::vector<Warning>(
                {{K::kHashCollision, "k5jbiahaumijm", 2, 1, 0, 1, 1}}));
  EXPECT_EQ(scan_files({"\n<KEY>arhf1ny1xxxde</KEY><STR>1</STR>",
                        "<KEY>k5jbiahaumijm</KEY><STR>2</STR>"}),
            std::vector<Warning>(
                {{K::kHashCollision, "k5jbiahaumijm", 1, 1, 0, 2, 1}}));
}

TEST(ScanBuffer, ReportsTheTableLimit) {
  StringTable table(1);
  ScanResult r =
      scan_buffer("<KEY>a</KEY><STR>1</STR>\n<KEY>b</KEY><STR>2</STR>", table);
  ASSERT_TRUE(r.error);
  EXPECT_EQ(r.error->kind, ScanErrorKind::kTooManyEntries);
  EXPECT_FALSE(is_syntax_error(r.error->kind));
  EXPECT_EQ(r.error->offset, 25u);
  EXPECT_EQ(r.count, 1u);
}

// Long runs of unpartnered tags must not make the scan quadratic; this
// finishes at once when every byte is searched a bounded number of times.
TEST(ScanBuffer, ManyTagsInARow) {
  std::string pairs;
  for (int i = 0; i < 200000; ++i) {
    pairs += "<KEY>k" + std::to_string(i) + "</KEY><STR>t</STR>";
  }
  StringTable table;
  EXPECT_EQ(scan_buffer(pairs, table).count, 200000u);

  std::string closers;
  for (int i = 0; i < 200000; ++i) closers += "</KEY></STR><STR>";
  StringTable other;
  EXPECT_EQ(scan_buffer(closers, other).count, 0u);
}

// A source of several MiB is searched on a second thread while the pairs
// found are added: the table, the count, the warnings and the error must
// be what the pairs say, in order, and stopping early must be clean.
TEST(ScanBuffer, LargeSourcesAgreeWithTheirPairs) {
  std::string source;
  Pairs added;                  // non-empty pairs in source order
  std::vector<uint32_t> lines;  // the line of each, two lines a pair
  for (int i = 0; i < 300000; ++i) {
    std::string key = "menu.item." + std::to_string(i);
    std::string text = "text " + std::to_string(i);
    if (i % 7 == 6) key = "MENU.ITEM." + std::to_string(i / 2);  // a repeat
    if (i % 11 == 10) text.clear();
    source += "<KEY>" + key + "</KEY>\n<STR>" + text + "</STR>\n";
    if (!text.empty()) {
      added.emplace_back(key, text);
      lines.push_back(2 * i + 1);
    }
  }
  const size_t bad = source.size();
  source += "<KEY>last</KEY><STR>a<STR>b</STR>";
  ASSERT_GT(source.size(), size_t{8} << 20);

  // The table the pairs make: first arrival order, later texts replacing;
  // each warning as the line of the later pair and of the text it replaces.
  std::vector<std::pair<uint64_t, std::string>> expected;
  std::vector<uint32_t> expected_lines;
  std::unordered_map<uint64_t, size_t> position;
  std::vector<std::pair<uint64_t, uint32_t>> expected_warnings;
  for (size_t i = 0; i < added.size(); ++i) {
    const auto& [key, text] = added[i];
    const uint64_t hash = hash_key(key);
    if (auto it = position.find(hash); it != position.end()) {
      expected_warnings.emplace_back(lines[i], expected_lines[it->second]);
      expected[it->second].second = text;
      expected_lines[it->second] = lines[i];
    } else {
      position.emplace(hash, expected.size());
      expected.emplace_back(hash, text);
      expected_lines.push_back(lines[i]);
    }
  }

  StringTable table;
  std::vector<std::pair<uint64_t, uint32_t>> warnings;
  ScanContext context;
  context.warn = [&](const ScanWarning& w) {
    warnings.emplace_back(w.where().line, w.previous.line);
  };
  const ScanResult result = scan_buffer(source, table, context);
  EXPECT_EQ(result.count, added.size());
  EXPECT_TRUE(warnings == expected_warnings);
  std::vector<uint32_t> origin_lines;
  for (const StringEntry& entry : table.entries()) {
    origin_lines.push_back(entry.origin.line);
    EXPECT_EQ(entry.origin.column, 1u);
  }
  EXPECT_TRUE(origin_lines == expected_lines);
  ASSERT_TRUE(result.error);
  EXPECT_EQ(result.error->kind, ScanErrorKind::kBleedingString);
  EXPECT_EQ(result.error->offset, bad + 21);
  EXPECT_TRUE(contents(table) == expected);

  // The table fills up long before the search ends.
  StringTable small(1000);
  const ScanResult stopped = scan_buffer(source, small);
  ASSERT_TRUE(stopped.error);
  EXPECT_EQ(stopped.error->kind, ScanErrorKind::kTooManyEntries);
  EXPECT_EQ(small.count(), 1000u);
}

using ReadSource = TempDirTest;

TEST_F(ReadSource, ReadsFilesAndPipesWhole) {
  const std::string path = dir_ + "/in.txt";
  std::ofstream(path) << "<KEY>a</KEY><STR>1</STR>";
  ReadResult file = read_source(path.c_str());
  ASSERT_EQ(file.status, ReadStatus::kRead);
  EXPECT_EQ(file.file.bytes(), "<KEY>a</KEY><STR>1</STR>");

  // A pipe has no size: it is read until it ends, across many reads.
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const std::string big(1 << 20, 'x');
  std::thread writer([&] {
    for (size_t done = 0; done < big.size();) {
      ssize_t n = write(fds[1], big.data() + done, big.size() - done);
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    close(fds[1]);
  });
  const std::string pipe_path = "/dev/fd/" + std::to_string(fds[0]);
  ReadResult piped = read_source(pipe_path.c_str());
  writer.join();
  close(fds[0]);
  ASSERT_EQ(piped.status, ReadStatus::kRead);
  EXPECT_TRUE(piped.file.bytes() == big);
}

TEST_F(ReadSource, ReportsWhatCannotBeRead) {
  const std::string missing = dir_ + "/missing.txt";
  ReadResult absent = read_source(missing.c_str());
  EXPECT_EQ(absent.status, ReadStatus::kCannotOpen);
  EXPECT_EQ(absent.error_number, ENOENT);

  ReadResult directory = read_source(dir_.c_str());
  EXPECT_EQ(directory.status, ReadStatus::kCannotOpen);
  EXPECT_EQ(directory.error_number, EISDIR);

  StringTable table;
  SourceScan scan = scan_source(table, missing.c_str());
  EXPECT_EQ(scan.read_status, ReadStatus::kCannotOpen);
  EXPECT_EQ(table.count(), 0u);
}

}  // namespace
}  // namespace stblc
