#include "pair_stream.h"

#include <algorithm>
#include <cstring>

namespace stblc {
namespace {

// Below this, a source is searched faster than a thread starts.
constexpr size_t kThreadFrom = size_t{4} << 20;
// How far ahead of the search the source is checked for a zero byte.
constexpr size_t kZeroCheckStep = size_t{1} << 20;

}  // namespace

PairStream::PairStream(std::string_view source)
    : source_(source),
      ahead_([this](PairBatch& batch) { return fill(batch); },
             source.size() >= kThreadFrom,
             [](PairBatch& batch) { batch.pairs.reserve(kBatchSize); }) {}

// Moves the end of what is known to hold no zero byte further on, and
// tells whether it could. Each step at least doubles what lies between the
// search's cursor and that end, so that a search begun again after a step
// repeats no more than it has already done.
bool PairStream::know_more() {
  if (ended_) return false;
  const size_t step = std::max(kZeroCheckStep, known_ - cursor_);
  const size_t limit = std::min(source_.size(), known_ + step);
  if (const void* zero =
          std::memchr(source_.data() + known_, 0, limit - known_)) {
    known_ = static_cast<const char*>(zero) - source_.data();
    ended_ = true;
  } else {
    known_ = limit;
    ended_ = limit == source_.size();
  }
  return true;
}

void PairStream::find(PairBatch& batch) {
  batch.pairs.clear();
  batch.last = false;
  batch.error.reset();
  while (batch.pairs.size() < kBatchSize) {
    PairTags tags;
    PairError error;
    // A pair found in the bytes known to be free of zeros is found in the
    // whole source too; anything else may change with more bytes known.
    const PairSearch found =
        cursor_ < known_
            ? find_pair(source_.substr(0, known_), cursor_, &tags, &error)
            : PairSearch::kEnd;
    if (found != PairSearch::kPair && know_more()) continue;
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
    batch.pairs.push_back(
        FoundPair{key,
                  source_.substr(text_start, tags.text_end - text_start),
                  {},
                  tags.key_tag});
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
