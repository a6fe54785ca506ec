// The pairs of a source, found ahead of the scanner that adds them: each
// well-formed pair with a non-empty text and its key hashed, handed over in
// batches in source order. A large source is searched on a second thread
// while the caller adds the batches before; a small one, where starting a
// thread would cost more than it saves, in the caller's thread when it
// asks. The batches are the same either way.
//
// The search allocates nothing once started, so it cannot fail. The first
// malformed pair ends the stream as a value in its last batch.

#ifndef STBLC_SCAN_PAIR_STREAM_H_
#define STBLC_SCAN_PAIR_STREAM_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "fill_ahead.h"
#include "hash_key.h"
#include "line_tracker.h"
#include "pair_finder.h"

namespace stblc {

struct FoundPair {
  std::string_view key;
  std::string_view text;
  KeyHashes hashes;
  size_t key_tag;  // offset of the pair's <KEY>
  // Line and column (from 1) of the <KEY>, each saturated at UINT32_MAX.
  uint32_t line;
  uint32_t column;
};

struct PairBatch {
  std::vector<FoundPair> pairs;
  bool last = false;  // no pairs follow this batch
  // On the last batch: the malformed pair that ended the search, if any.
  std::optional<PairError> error;
};

class PairStream {
 public:
  // The source must outlive the stream and hold no zero byte.
  explicit PairStream(std::string_view source);

  // The next batch, valid until the next call; none may follow the last.
  const PairBatch& next() { return *ahead_.next(); }

 private:
  static constexpr size_t kBatchSize = 4096;

  bool fill(PairBatch& batch);
  void find(PairBatch& batch);  // fill() but for the hashes

  std::string_view source_;
  size_t cursor_ = 0;
  // Counting lines here takes that work off the thread that adds the pairs.
  LineTracker lines_;
  FillAhead<PairBatch> ahead_;  // last: its thread uses the members above
};

}  // namespace stblc

#endif  // STBLC_SCAN_PAIR_STREAM_H_
