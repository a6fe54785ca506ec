#include "string_table.h"

#include <gtest/gtest.h>
#include <sys/mman.h>

#include <cstdint>
#include <string>
#include <vector>

#include "growing_array.h"
#include "hash_key.h"
#include "little_endian.h"

namespace stblc {
namespace {

std::string written(const StringTable& table) {
  StringSink sink;
  EXPECT_TRUE(table.write(sink));
  return sink.bytes;
}

std::string bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s.push_back(static_cast<char>(v));
  return s;
}

TEST(HashKey, ReferenceValuesAndFolding) {
  struct Case {
    std::string key;
    uint64_t hash;
  } cases[] = {
      {"abc", 0xD8DCCA186BAFADCBu},
      {"ABC", 0xD8DCCA186BAFADCBu},
      {"a", 0xAF63BD4C8601B7BEu},
      {"", 0xCBF29CE484222325u},
      // Two different keys whose hashes collide.
      {"arhf1ny1xxxde", 0x04D4E7B9CF034C4Eu},
      {"k5jbiahaumijm", 0x04D4E7B9CF034C4Eu},
  };
  for (const Case& c : cases) EXPECT_EQ(hash_key(c.key), c.hash) << c.key;

  // Only ASCII capitals fold; spaces and bytes above 0x7F count as they are.
  EXPECT_EQ(hash_key("Title"), hash_key("TITLE"));
  EXPECT_NE(hash_key("\xC4"), hash_key("\xE4"));
  EXPECT_NE(hash_key("a"), hash_key(" a"));
  EXPECT_NE(hash_key("Menu"), hash_key("\r\nMenu\r\n"));
  EXPECT_NE(hash_key("@"), hash_key("`"));  // neighbours of A-Z stay apart
  EXPECT_NE(hash_key("["), hash_key("{"));

  for (const Case& c : cases) {
    EXPECT_EQ(hash_key_twice(c.key).key_hash, c.hash) << c.key;
  }
  EXPECT_EQ(hash_key_twice("Title").check, hash_key_twice("tITLE").check);
  EXPECT_NE(hash_key_twice("arhf1ny1xxxde").check,
            hash_key_twice("k5jbiahaumijm").check);

  // Every length through whole words and each tail, with every kind of
  // byte: both hashes see every byte, and fold only A-Z.
  std::string key;
  for (int n = 1; n <= 40; ++n) {
    key.push_back("aZ\xC4@[`{ 0\x95"[n % 10]);
    std::string lower = key;
    for (char& c : lower) c = c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c;
    std::string last_changed = key;
    last_changed.back() ^= 1;
    const KeyHashes hashes = hash_key_twice(key);
    EXPECT_EQ(hashes.key_hash, hash_key(key)) << n;
    EXPECT_EQ(hashes.check, hash_key_twice(lower).check) << n;
    EXPECT_NE(hashes.check, hash_key_twice(last_changed).check) << n;
  }
}

// Past a few MiB the array is moved by remapping: every value must come
// along, through several moves.
TEST(GrowingArray, KeepsItsValuesAsItGrows) {
  GrowingArray<uint64_t> values;
  constexpr uint64_t kCount = uint64_t{3} << 20;  // 24 MiB
  for (uint64_t i = 0; i < kCount; ++i)
    values.push_back(i * 0x9E3779B97F4A7C15u);
  ASSERT_EQ(values.size(), kCount);
  uint64_t wrong = 0;
  for (uint64_t i = 0; i < kCount; ++i) {
    wrong += values[i] != i * 0x9E3779B97F4A7C15u;
  }
  EXPECT_EQ(wrong, 0u);
}

TEST(StringTable, WritesTheWorkedExample) {
  StringTable table;
  EXPECT_EQ(table.add("abc", "Hi").status, AddStatus::kAdded);
  EXPECT_EQ(
      written(table),
      bytes({0x53, 0x54, 0x42, 0x4C, 0x02, 0, 0,    0x01, 0,    0,    0,
             0,    0,    0,    0,    0,    0, 0xCB, 0xAD, 0xAF, 0x6B, 0x18,
             0xCA, 0xDC, 0xD8, 0x02, 0,    0, 0,    0x48, 0,    0x69, 0}));
}

TEST(StringTable, EmptyTableIsTheHeaderAlone) {
  StringTable table;
  EXPECT_EQ(written(table), bytes({0x53, 0x54, 0x42, 0x4C, 0x02, 0, 0, 0, 0, 0,
                                   0, 0, 0, 0, 0, 0, 0}));
}

TEST(StringTable, ConvertsEachByteToOneUnit) {
  EXPECT_EQ(unit_of_byte(0x95), 0x2022);
  for (int b = 0; b < 256; ++b) {
    if (b != 0x95) {
      EXPECT_EQ(unit_of_byte(static_cast<uint8_t>(b)), b);
    }
  }
  StringTable table;
  table.add("k", "\x95\x93\x41\xFF");
  const std::string out = written(table);
  EXPECT_EQ(get_u32le(reinterpret_cast<const uint8_t*>(out.data()) + 25), 4u);
  EXPECT_EQ(out.substr(29), bytes({0x22, 0x20, 0x93, 0, 0x41, 0, 0xFF, 0}));
}

TEST(StringTable, LaterTextReplacesInPlace) {
  StringTable table;
  EXPECT_EQ(table.add("A", "first").status, AddStatus::kAdded);
  EXPECT_EQ(table.add("B", "b").status, AddStatus::kAdded);
  EXPECT_EQ(table.add("a", "longer than the first").status,
            AddStatus::kReplaced);
  EXPECT_EQ(table.add("B", "x").status,
            AddStatus::kReplaced);  // reuses its bytes
  ASSERT_EQ(table.count(), 2u);
  const auto entries = table.entries();
  EXPECT_EQ(entries[0].key_hash, hash_key("a"));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(entries[0].text),
                        entries[0].length),
            "longer than the first");
  EXPECT_EQ(entries[1].key_hash, hash_key("b"));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(entries[1].text),
                        entries[1].length),
            "x");
  StringSink sink;
  ASSERT_TRUE(table.write(sink));
  EXPECT_EQ(table.file_size(), sink.bytes.size());
}

TEST(StringTable, ReplacementTellsWhereTheOldTextCameFrom) {
  StringTable table;
  table.add("Title", "1", Origin{0, 3, 7});
  const AddResult again = table.add("TITLE", "2", Origin{1, 9, 1});
  EXPECT_EQ(again.status, AddStatus::kReplaced);
  EXPECT_TRUE(again.same_key);
  EXPECT_EQ(again.previous.file, 0u);
  EXPECT_EQ(again.previous.line, 3u);
  EXPECT_EQ(again.previous.column, 7u);
  EXPECT_EQ(table.entries()[0].origin.line, 9u);

  // Different keys with equal key hashes are one key to the table, but the
  // replacement says they differ.
  table.add("arhf1ny1xxxde", "one", Origin{0, 1, 1});
  const AddResult collision = table.add("k5jbiahaumijm", "two");
  EXPECT_EQ(collision.status, AddStatus::kReplaced);
  EXPECT_FALSE(collision.same_key);
  EXPECT_EQ(table.count(), 2u);
}

// Many keys through index growth, replacements, and texts across the writer's
// buffer boundaries: the file matches an entry-by-entry encoding.
TEST(StringTable, ManyEntriesMatchAnIndependentEncoding) {
  StringTable table;
  std::vector<std::pair<std::string, std::string>> expected;
  auto text_for = [](int i, int round) {
    return std::string(static_cast<size_t>(i % 97 + round), 'a' + i % 26);
  };
  for (int i = 0; i < 200000; ++i) {
    table.add("key." + std::to_string(i), text_for(i, 1));
    expected.emplace_back("key." + std::to_string(i), text_for(i, 1));
  }
  for (int i = 0; i < 200000; i += 3) {
    table.add("KEY." + std::to_string(i), text_for(i, 1 + i % 5 * 7));
    expected[i].second = text_for(i, 1 + i % 5 * 7);
  }
  const std::string big(700000, '\x95');
  table.add("big", big);
  expected.emplace_back("big", big);

  std::string want(stbl::kHeaderSize, '\0');
  want.replace(0, 5, "STBL\x02");
  put_u32le(reinterpret_cast<uint8_t*>(want.data()) + 7,
            static_cast<uint32_t>(expected.size()));
  for (const auto& [key, text] : expected) {
    uint8_t head[12];
    put_u64le(head, hash_key(key));
    put_u32le(head + 8, static_cast<uint32_t>(text.size()));
    want.append(reinterpret_cast<char*>(head), sizeof head);
    for (char c : text) {
      uint8_t unit[2];
      put_u16le(unit, unit_of_byte(static_cast<uint8_t>(c)));
      want.append(reinterpret_cast<char*>(unit), 2);
    }
  }
  ASSERT_EQ(table.count(), expected.size());
  EXPECT_TRUE(written(table) == want);
  for (const auto& [key, text] : expected) {
    const StringEntry* e = table.find(hash_key(key));
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->length, text.size());
  }
  EXPECT_EQ(table.find(hash_key("absent")), nullptr);
}

TEST(StringTable, RefusesWhatTheFormatCannotHold) {
  StringTable small(2);
  EXPECT_EQ(small.add("a", "1").status, AddStatus::kAdded);
  EXPECT_EQ(small.add("b", "2").status, AddStatus::kAdded);
  EXPECT_EQ(small.add("c", "3").status, AddStatus::kTooManyEntries);
  EXPECT_EQ(small.add("A", "4").status,
            AddStatus::kReplaced);  // still replaceable
  EXPECT_EQ(small.count(), 2u);

  // A text one byte over the length field's limit, in address space that is
  // reserved but never touched.
  const size_t size = size_t{stbl::kMaxLength} + 1;
  void* p = mmap(nullptr, size, PROT_READ,
                 MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  ASSERT_NE(p, MAP_FAILED);
  StringTable table;
  EXPECT_EQ(
      table.add("k", std::string_view(static_cast<char*>(p), size)).status,
      AddStatus::kTextTooLong);
  EXPECT_EQ(table.count(), 0u);
  munmap(p, size);
}

class FailingSink : public ByteSink {
 public:
  explicit FailingSink(int accept) : accept_(accept) {}
  bool write(const uint8_t*, size_t) override {
    ++calls;
    return accept_-- > 0;
  }
  int calls = 0;

 private:
  int accept_;
};

TEST(StringTable, StopsWritingWhenTheSinkFails) {
  StringTable table;
  table.add("big", std::string(3 << 20, 'x'));  // several buffers' worth
  FailingSink fails_at_once(0);
  EXPECT_FALSE(table.write(fails_at_once));
  EXPECT_EQ(fails_at_once.calls, 1);
  FailingSink fails_later(2);
  EXPECT_FALSE(table.write(fails_later));
  EXPECT_EQ(fails_later.calls, 3);
}

}  // namespace
}  // namespace stblc
