#include "pair_finder.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace stblc {
namespace {

// The pair rule stated plainly: every tag searched for afresh from where
// the rule says, nothing remembered.
PairSearch plain_rule(std::string_view s, size_t cursor, PairTags* tags,
                      PairError* error) {
  constexpr size_t kNone = std::string_view::npos;
  auto fail = [&](ScanErrorKind kind, std::string_view key, size_t offset) {
    *error = PairError{kind, key, offset};
    return PairSearch::kError;
  };
  tags->key_tag = s.find(kKeyOpen, cursor);
  if (tags->key_tag == kNone) return PairSearch::kEnd;
  const size_t key_start = tags->key_tag + kKeyOpen.size();
  tags->key_end = s.find(kKeyClose, key_start);
  if (tags->key_end == kNone) {
    return fail(ScanErrorKind::kUnterminatedKey, {}, tags->key_tag);
  }
  const size_t next_key = s.find(kKeyOpen, key_start);
  if (next_key < tags->key_end) {
    return fail(ScanErrorKind::kBleedingKey,
                s.substr(key_start, next_key - key_start), next_key);
  }
  if (tags->key_end == key_start) {
    return fail(ScanErrorKind::kEmptyKey, {}, tags->key_tag);
  }
  const std::string_view key = s.substr(key_start, tags->key_end - key_start);
  tags->str_tag = s.find(kStrOpen, tags->key_end + kKeyClose.size());
  if (tags->str_tag == kNone) {
    return fail(ScanErrorKind::kKeyWithoutEntry, key, tags->key_tag);
  }
  const size_t text_start = tags->str_tag + kStrOpen.size();
  tags->text_end = s.find(kStrClose, text_start);
  if (tags->text_end == kNone) {
    return fail(ScanErrorKind::kUnterminatedString, key, tags->str_tag);
  }
  const size_t next_str = s.find(kStrOpen, text_start);
  if (next_str < tags->text_end) {
    return fail(ScanErrorKind::kBleedingString, key, next_str);
  }
  return PairSearch::kPair;
}

// Random sources built from tags, pieces of tags and plain bytes, walked
// pair by pair as the scanner walks them, by find_pair and by the rule.
TEST(FindPair, AgreesWithThePlainRule) {
  const std::string_view pieces[] = {
      "<KEY>", "</KEY>", "<STR>", "</STR>", "<KEY>a</KEY><STR>b</STR>",
      "<",     "</",     "<KE",   "</ST",   "K",
      "a",     "\n",     "<<",    "STR>",   ">"};
  std::mt19937 random(12345);
  for (int round = 0; round < 20000; ++round) {
    std::string source;
    const int n = static_cast<int>(random() % 16);
    for (int i = 0; i < n; ++i) source += pieces[random() % std::size(pieces)];
    SCOPED_TRACE(source);

    size_t cursor = 0;
    while (cursor < source.size()) {
      PairTags got{};
      PairTags want{};
      PairError got_error{};
      PairError want_error{};
      const auto found = find_pair(source, cursor, &got, &got_error);
      const auto expected = plain_rule(source, cursor, &want, &want_error);
      ASSERT_EQ(found, expected) << "from " << cursor;
      if (found == PairSearch::kEnd) break;
      if (found == PairSearch::kError) {
        EXPECT_EQ(got_error.kind, want_error.kind);
        EXPECT_EQ(got_error.key, want_error.key);
        EXPECT_EQ(got_error.offset, want_error.offset);
        break;
      }
      EXPECT_EQ(got.key_tag, want.key_tag);
      EXPECT_EQ(got.key_end, want.key_end);
      EXPECT_EQ(got.str_tag, want.str_tag);
      ASSERT_EQ(got.text_end, want.text_end);
      cursor = got.text_end + kStrClose.size();
    }
  }
}

}  // namespace
}  // namespace stblc
