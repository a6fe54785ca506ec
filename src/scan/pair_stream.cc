#include "pair_stream.h"

#include <algorithm>

namespace stblc {
namespace {

// Below this, a source is searched faster than a thread starts.
constexpr size_t kThreadFrom = size_t{4} << 20;

uint32_t saturated(uint64_t n) {
  return static_cast<uint32_t>(std::min<uint64_t>(n, UINT32_MAX));
}

}  // namespace

PairStream::PairStream(std::string_view source)
    : source_(source),
      lines_(source),
      ahead_([this](PairBatch& batch) { return fill(batch); },
             source.size() >= kThreadFrom,
             [](PairBatch& batch) { batch.pairs.reserve(kBatchSize); }) {}

void PairStream::find(PairBatch& batch) {
  batch.pairs.clear();
  batch.last = false;
  batch.error.reset();
  while (batch.pairs.size() < kBatchSize) {
    PairTags tags;
    PairError error;
    const PairSearch found = cursor_ < source_.size()
                                 ? find_pair(source_, cursor_, &tags, &error)
                                 : PairSearch::kEnd;
    if (found != PairSearch::kPair) {
      batch.last = true;
      if (found == PairSearch::kError) batch.error = error;
      return;
    }
    cursor_ = tags.text_end + kStrClose.size();
    const size_t key_start = tags.key_tag + kKeyOpen.size();
    const size_t text_start = tags.str_tag + kStrOpen.size();
    // An empty text adds nothing and leaves an earlier text of the key.
    if (tags.text_end == text_start) continue;
    const std::string_view key =
        source_.substr(key_start, tags.key_end - key_start);
    uint64_t line;
    uint64_t column;
    lines_.position(tags.key_tag, &line, &column);
    batch.pairs.push_back(
        FoundPair{key,
                  source_.substr(text_start, tags.text_end - text_start),
                  {},
                  tags.key_tag,
                  saturated(line),
                  saturated(column)});
  }
}

bool PairStream::fill(PairBatch& batch) {
  find(batch);
  // The keys are hashed in a loop of their own: hashing a key is one long
  // chain of multiplications, and the processor overlaps the chains of
  // neighbouring keys only when nothing else comes between them.
  for (FoundPair& pair : batch.pairs) pair.hashes = hash_key_twice(pair.key);
  return !batch.last;
}

}  // namespace stblc
