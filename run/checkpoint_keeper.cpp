// Keeping the checkpoint.
#include "run/checkpoint_keeper.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "output/result_file.h"

namespace nbsim {

CheckpointKeeper::CheckpointKeeper(std::string path, std::ostream& errors, Checkpoint base,
                                   std::function<std::int64_t()> elapsedMilliseconds,
                                   std::int32_t threads, std::chrono::milliseconds statesEvery)
    : path_(std::move(path)),
      errors_(errors),
      elapsed_(std::move(elapsedMilliseconds)),
      statesEvery_(statesEvery),
      tick_(std::clamp(statesEvery / 2, std::chrono::milliseconds(1),
                       std::chrono::milliseconds(100))),
      elapsedBefore_(base.elapsedMilliseconds),
      checkpoint_(std::move(base)) {
  for (std::int32_t t = 0; t < std::max(threads, 1); ++t) {
    slots_.push_back(std::make_unique<PointProgress>());
  }
}

CheckpointKeeper::~CheckpointKeeper() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  stopping_.notify_all();
  if (writer_.joinable()) writer_.join();
}

bool CheckpointKeeper::start(const RunDescription&) {
  std::unique_lock<std::mutex> lock(mutex_);
  sittingStart_ = elapsed_();
  write(lock);
  sayFailure(lock);
  try {
    writer_ = std::thread([this] { keepWriting(); });
  } catch (const std::system_error&) {
    // No thread to spare: the checkpoint is written at the end, and at the points handed on.
  }
  return true;
}

bool CheckpointKeeper::point(const PointResult& point) {
  std::unique_lock<std::mutex> lock(mutex_);
  learn(handedOn_++, PointState{point, 0, true});
  pointsPending_ = true;
  if (!writer_.joinable()) write(lock);
  sayFailure(lock);
  return true;
}

void CheckpointKeeper::finish(const RunOutcome& outcome) {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  stopping_.notify_all();
  if (writer_.joinable()) writer_.join();
  std::unique_lock<std::mutex> lock(mutex_);
  collectStates();
  checkpoint_.complete = outcome.sweep == SweepOutcome::completed;
  write(lock);
  sayFailure(lock);
}

void CheckpointKeeper::watchThrough(SweepWatcher* progress) {
  const std::lock_guard<std::mutex> lock(mutex_);
  collectStates();
  progress_ = progress;
}

PointProgress& CheckpointKeeper::slot(std::int32_t worker) {
  return progress_ ? progress_->slot(worker) : *slots_[static_cast<std::size_t>(worker)];
}

void CheckpointKeeper::startPoint(PointProgress& slot, std::int64_t index, float P0) {
  if (progress_) {
    progress_->startPoint(slot, index, P0);
  } else {
    slot.start(index, P0, 0);
  }
}

void CheckpointKeeper::pointDone(std::int64_t index, const PointResult& result) {
  if (progress_) progress_->pointDone(index, result);
  const std::lock_guard<std::mutex> lock(mutex_);
  learn(index, PointState{result, 0, true});
}

bool CheckpointKeeper::failed() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return failed_;
}

void CheckpointKeeper::keepWriting() {
  std::unique_lock<std::mutex> lock(mutex_);
  auto nextStates = std::chrono::steady_clock::now() + statesEvery_;
  bool asked = false;
  // Points handed on are written within a second (sooner when states are asked for sooner):
  // a sweep of many short points writes no more often than that.
  const auto pointsEvery =
      std::min<std::chrono::milliseconds>(statesEvery_, std::chrono::seconds(1));
  while (!stopping_.wait_for(lock, tick_, [this] { return stop_; })) {
    bool due = pointsPending_ && std::chrono::steady_clock::now() - lastWrite_ >= pointsEvery;
    if (asked) {
      // A tick after the question every thread has kept its state, unless it is inside a block
      // that slow; that one tells at the next question.
      collectStates();
      asked = false;
      due = true;
    }
    if (std::chrono::steady_clock::now() >= nextStates) {
      for (std::size_t t = 0; t < slots_.size(); ++t) {
        slot(static_cast<std::int32_t>(t)).requestState();
      }
      asked = true;
      nextStates = std::chrono::steady_clock::now() + statesEvery_;
    }
    if (due) write(lock);
  }
}

void CheckpointKeeper::collectStates() {
  for (std::size_t t = 0; t < slots_.size(); ++t) {
    if (auto kept = slot(static_cast<std::int32_t>(t)).keptState()) {
      kept->second.done = false;
      learn(kept->first, kept->second);
    }
  }
}

void CheckpointKeeper::learn(std::int64_t index, const PointState& state) {
  const auto known = checkpoint_.points.find(index);
  if (known != checkpoint_.points.end() &&
      (known->second.done ||
       (!state.done && known->second.result.counters.blocks > state.result.counters.blocks))) {
    return;
  }
  checkpoint_.points[index] = state;
}

void CheckpointKeeper::write(std::unique_lock<std::mutex>& lock) {
  pointsPending_ = false;
  lastWrite_ = std::chrono::steady_clock::now();
  checkpoint_.elapsedMilliseconds = elapsedBefore_ + (elapsed_() - sittingStart_);
  std::string text;
  try {
    text = checkpointText(checkpoint_);
  } catch (const std::bad_alloc&) {
    // Kept for the next write; the run goes on.
    failed_ = true;
    if (!said_) {
      said_ = true;
      failure_ = "nbsim: " + path_ + ": cannot be written: out of memory; the run goes on\n";
    }
    return;
  }
  // The disk is waited for without the lock, so that the simulating threads that tell of a
  // point done do not wait for it; one write at a time, in the order taken.
  std::unique_lock<std::mutex> writing(writeMutex_);
  lock.unlock();
  const int error = replaceDurably(path_, text);
  writing.unlock();
  lock.lock();
  failed_ = error != 0;
  if (failed_ && !said_) {
    said_ = true;
    failure_ = "nbsim: " + path_ + ": cannot be written: " + std::strerror(error) +
               "; the run goes on, but cannot be resumed from later than its last checkpoint\n";
  }
}

void CheckpointKeeper::sayFailure(std::unique_lock<std::mutex>& lock) {
  if (failure_.empty()) return;
  const std::string line = std::move(failure_);
  failure_.clear();
  lock.unlock();
  errors_ << line << std::flush;
  lock.lock();
}

}  // namespace nbsim
