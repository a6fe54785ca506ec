// Batches of work made ahead of the thread that uses them: a second thread
// fills them while the caller takes the ones before, in order, so that
// making and using them overlap on two processors. Without that thread
// (the caller asked for none, or it could not be started) the caller's
// thread fills each batch when it asks for it; the batches are the same.
//
// The filling runs on the second thread and must not throw there: it gets
// its memory before the thread starts (prepare), and it must not touch
// what the caller uses meanwhile.

#ifndef STBLC_SCAN_FILL_AHEAD_H_
#define STBLC_SCAN_FILL_AHEAD_H_

#include <array>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

namespace stblc {

template <typename Batch>
class FillAhead {
 public:
  // fill(batch) fills a batch and tells whether more may follow.
  using Fill = std::function<bool(Batch&)>;

  // On a second thread if on_thread, after prepare(batch) for each batch.
  FillAhead(Fill fill, bool on_thread,
            const std::function<void(Batch&)>& prepare = {})
      : fill_(std::move(fill)) {
    if (!on_thread) return;
    if (prepare) {
      for (Batch& batch : batches_) prepare(batch);
    }
    try {
      thread_ = std::thread(&FillAhead::run, this);
    } catch (const std::system_error&) {
      // No thread: next() fills instead.
    }
  }

  // Stops the filling after the batch being filled.
  ~FillAhead() {
    if (!thread_.joinable()) return;
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }
  FillAhead(const FillAhead&) = delete;
  FillAhead& operator=(const FillAhead&) = delete;

  // The next batch, valid until the next call; null once the last batch
  // has been taken.
  Batch* next() {
    if (!thread_.joinable()) {
      if (done_) return nullptr;
      done_ = !fill_(batches_[0]);
      return &batches_[0];
    }
    std::unique_lock lock(mutex_);
    if (holding_) {
      ++consumed_;
      changed_.notify_all();
    }
    changed_.wait(lock, [this] { return filled_ > consumed_ || done_; });
    holding_ = filled_ > consumed_;
    return holding_ ? &batches_[consumed_ % kBatches] : nullptr;
  }

 private:
  // Enough for the filling to run on through the user's pauses (a table
  // index that grows, memory touched for the first time) instead of waiting.
  static constexpr size_t kBatches = 16;

  void run() {
    for (;;) {
      Batch* batch;
      {
        std::unique_lock lock(mutex_);
        changed_.wait(
            lock, [this] { return stop_ || filled_ - consumed_ < kBatches; });
        if (stop_) return;
        batch = &batches_[filled_ % kBatches];
      }
      const bool more = fill_(*batch);
      {
        std::lock_guard lock(mutex_);
        ++filled_;
        done_ = !more;
      }
      changed_.notify_all();
      if (!more) return;
    }
  }

  Fill fill_;
  std::array<Batch, kBatches> batches_;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable changed_;
  // Guarded by mutex_ once the thread runs: batches filled and batches
  // given back, counted from the start (the caller holds batch
  // consumed_ % kBatches between calls while holding_), and whether the
  // last batch has been filled.
  uint64_t filled_ = 0;
  uint64_t consumed_ = 0;
  bool holding_ = false;
  bool done_ = false;
  bool stop_ = false;
};

}  // namespace stblc

#endif  // STBLC_SCAN_FILL_AHEAD_H_
