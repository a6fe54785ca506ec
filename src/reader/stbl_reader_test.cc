#include "stbl_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hash_key.h"
#include "little_endian.h"
#include "string_table.h"
#include "temp_dir_test.h"

namespace stblc {
namespace {

std::vector<uint8_t> compiled(const StringTable& table) {
  StringSink sink;
  EXPECT_TRUE(table.write(sink));
  return {sink.bytes.begin(), sink.bytes.end()};
}

// A small valid file of 85 bytes: the header, then records at 17 (9 units,
// 30 bytes), 47 (6 units, 24 bytes) and 71 (1 unit, 14 bytes).
std::vector<uint8_t> sample() {
  StringTable table;
  table.add("menu.title", "Main Menu");
  table.add("bullet", "\x95 item");
  table.add("empty.next", "x");
  return compiled(table);
}

TEST(StblReader, ReadsBackWhatTheCompilerWrote) {
  StringTable table;
  std::vector<std::pair<std::string, std::string>> pairs;
  for (int i = 0; i < 5000; ++i) {
    pairs.emplace_back("key." + std::to_string(i),
                       std::string(static_cast<size_t>(i % 50 + 1),
                                   static_cast<char>('a' + i % 26)));
    table.add(pairs.back().first, pairs.back().second);
  }
  const std::vector<uint8_t> bytes = compiled(table);
  StblReader reader;
  ASSERT_TRUE(reader.parse(bytes)) << reader.error().message;
  EXPECT_TRUE(reader.warnings().empty());
  EXPECT_EQ(reader.version(), 2);
  ASSERT_EQ(reader.entry_count(), pairs.size());
  for (size_t i = 0; i < pairs.size(); ++i) {
    const StblRecord& r = reader.records()[i];
    EXPECT_EQ(r.key_hash, table.entries()[i].key_hash);
    EXPECT_EQ(reader.utf8(r), pairs[i].second);
    // Lookup by key, in any capitals, and by hash.
    EXPECT_EQ(reader.find_key("KEY." + std::to_string(i)), &r);
  }
  EXPECT_EQ(reader.find_key("absent"), nullptr);
}

TEST(StblReader, ConvertsUnitsToUtf8) {
  // Units written by hand: BULLET, a surrogate pair, and lone surrogates.
  std::vector<uint8_t> bytes = {'S', 'T', 'B', 'L', 2, 0, 0, 1, 0,
                                0,   0,   0,   0,   0, 0, 0, 0};
  const uint16_t units[] = {0x2022, 0x41, 0xD83D, 0xDE00, 0xDC00, 0xD800};
  uint8_t head[12];
  put_u64le(head, hash_key("k"));
  put_u32le(head + 8, 6);
  bytes.insert(bytes.end(), head, head + 12);
  for (uint16_t u : units) {
    uint8_t b[2];
    put_u16le(b, u);
    bytes.insert(bytes.end(), b, b + 2);
  }
  StblReader reader;
  ASSERT_TRUE(reader.parse(bytes)) << reader.error().message;
  const StblRecord* r = reader.find_key("K");
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(reader.utf8(*r),
            "\xE2\x80\xA2"
            "A"
            "\xF0\x9F\x98\x80"
            "\xEF\xBF\xBD"
            "\xEF\xBF\xBD");
  EXPECT_EQ(reader.utf16(*r),
            std::u16string(u"\u2022A\xD83D\xDE00\xDC00\xD800", 6));
}

struct Bad {
  const char* what;
  size_t at;         // byte to change
  uint8_t value;     // its new value
  size_t offset;     // the offset the error names
  const char* says;  // part of the message
};

TEST(StblReader, RefusesMalformedFiles) {
  const std::vector<uint8_t> good = sample();
  const Bad cases[] = {
      {"magic", 0, 'X', 0, "magic"},
      {"version", 4, 3, 4, "version 3"},
      {"entry count too large", 10, 0x10, 7, "entry count"},
      {"entry count one more", 7, 4, 85, "head runs past"},
      {"entry count one less", 7, 2, 71, "14 bytes follow"},
      {"length too large", 25, 0xFF, 25, "runs past the end"},
      // The first record then ends at 49, where the next head's length
      // field (57) reads into the second record's units.
      {"length one more", 25, 10, 57, "runs past the end"},
  };
  for (const Bad& c : cases) {
    std::vector<uint8_t> bytes = good;
    bytes[c.at] = c.value;
    StblReader reader;
    ASSERT_FALSE(reader.parse(bytes)) << c.what;
    EXPECT_EQ(reader.error().offset, c.offset) << c.what;
    EXPECT_NE(reader.error().message.find(c.says), std::string::npos)
        << c.what << ": " << reader.error().message;
    EXPECT_EQ(reader.entry_count(), 0u) << c.what;
  }
}

TEST(StblReader, RefusesEveryTruncationAndRepeatedHashes) {
  const std::vector<uint8_t> good = sample();
  for (size_t size = 0; size < good.size(); ++size) {
    StblReader reader;
    EXPECT_FALSE(reader.parse({good.data(), size})) << size;
  }
  std::vector<uint8_t> longer = good;
  longer.push_back(0);
  StblReader reader;
  EXPECT_FALSE(reader.parse(longer));
  EXPECT_EQ(reader.error().offset, good.size());

  // The second record's hash made equal to the first's.
  std::vector<uint8_t> twice = good;
  std::copy(good.begin() + 17, good.begin() + 25, twice.begin() + 17 + 30);
  EXPECT_FALSE(reader.parse(twice));
  EXPECT_EQ(reader.error().offset, 17u + 30u);
  EXPECT_NE(reader.error().message.find("appears again"), std::string::npos);
}

TEST(StblReader, WarnsOfReservedBytes) {
  std::vector<uint8_t> bytes = sample();
  bytes[5] = 1;
  bytes[16] = 1;
  StblReader reader;
  ASSERT_TRUE(reader.parse(bytes));
  ASSERT_EQ(reader.warnings().size(), 2u);
  EXPECT_EQ(reader.warnings()[0].offset, 5u);
  EXPECT_EQ(reader.warnings()[1].offset, 11u);
}

using StblReaderFile = TempDirTest;

TEST_F(StblReaderFile, OpensFilesAndReportsWhatCannotBeRead) {
  const std::vector<uint8_t> bytes = sample();
  const std::string file = path("t.stbl");
  FILE* f = fopen(file.c_str(), "wb");
  fwrite(bytes.data(), 1, bytes.size(), f);
  fclose(f);
  StblReader reader;
  ASSERT_TRUE(reader.open(file)) << reader.error().message;
  EXPECT_EQ(reader.utf8(*reader.find_key("menu.title")), "Main Menu");
  EXPECT_FALSE(reader.open(path("missing.stbl")));
  EXPECT_NE(reader.error().message.find("No such file"), std::string::npos);
  EXPECT_FALSE(reader.open(dir_));
}

}  // namespace
}  // namespace stblc
