#include "pair_stream.h"

#include <system_error>

namespace stblc {
namespace {

// Below this, a source is searched faster than a thread starts.
constexpr size_t kThreadFrom = size_t{4} << 20;

}  // namespace

PairStream::PairStream(std::string_view source) : source_(source) {
  if (source.size() < kThreadFrom) return;
  // All the memory the search needs, before it starts.
  for (PairBatch& batch : batches_) batch.pairs.reserve(kBatchSize);
  try {
    thread_ = std::thread(&PairStream::search, this);
  } catch (const std::system_error&) {
    // No thread: next() searches instead.
  }
}

PairStream::~PairStream() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

const PairBatch& PairStream::next() {
  if (!thread_.joinable()) {
    fill(batches_[0]);
    return batches_[0];
  }
  std::unique_lock lock(mutex_);
  if (holding_) {
    ++consumed_;
    changed_.notify_all();
  }
  changed_.wait(lock, [this] { return filled_ > consumed_; });
  holding_ = true;
  return batches_[consumed_ % kBatches];
}

void PairStream::search() {
  for (;;) {
    PairBatch* batch;
    {
      std::unique_lock lock(mutex_);
      changed_.wait(lock,
                    [this] { return stop_ || filled_ - consumed_ < kBatches; });
      if (stop_) return;
      batch = &batches_[filled_ % kBatches];
    }
    fill(*batch);
    {
      std::lock_guard lock(mutex_);
      ++filled_;
    }
    changed_.notify_all();
    if (batch->last) return;
  }
}

void PairStream::fill(PairBatch& batch) {
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
    batch.pairs.push_back(
        FoundPair{key, source_.substr(text_start, tags.text_end - text_start),
                  hash_key_twice(key), tags.key_tag});
  }
}

}  // namespace stblc
