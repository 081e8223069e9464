// Keeps the run's checkpoint up to date as the sweep goes on: every point handed on, every point
// done ahead of its turn, and the state between two blocks of every point in progress, which the
// simulating threads keep in their progress slots when asked. The file is replaced whole and
// flushed to the disk: when a point is handed on (within a second), every few seconds with the
// points in progress (two by default), and once more at the end of the run. A run killed at any
// moment loses at most the work of those few seconds.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "engine/point_progress.h"
#include "output/checkpoint.h"
#include "output/run_listener.h"

namespace nbsim {

class CheckpointKeeper : public RunListener, public SweepWatcher {
 public:
  // The checkpoint at `path`, of the run `base` (its seed, start, inputs, and what a resumed
  // run brings along: its points and its time so far); `elapsedMilliseconds` reads the clock
  // that times this sitting. Failures are said once on `errors`. `threads` workers may ask for a
  // slot. The points in progress are asked for their state and written every `statesEvery`.
  CheckpointKeeper(std::string path, std::ostream& errors, Checkpoint base,
                   std::function<std::int64_t()> elapsedMilliseconds, std::int32_t threads,
                   std::chrono::milliseconds statesEvery);
  // Stops the writing thread.
  ~CheckpointKeeper() override;

  CheckpointKeeper(const CheckpointKeeper&) = delete;
  CheckpointKeeper& operator=(const CheckpointKeeper&) = delete;

  // The progress line's slots take the place of the keeper's own, and it learns of every point
  // started; before the sweep. Null after it, before the progress line goes: the states its slots
  // kept are taken first.
  void watchThrough(SweepWatcher* progress);

  // Writes the first checkpoint and starts writing on a thread of its own.
  bool start(const RunDescription& run) override;
  // The next point in sweep order is handed on: it is done.
  bool point(const PointResult& point) override;
  // Stops the thread and writes the last checkpoint with every state the threads left: complete
  // when the sweep was.
  void finish(const RunOutcome& outcome) override;

  PointProgress& slot(std::int32_t worker) override;
  void startPoint(PointProgress& slot, std::int64_t index, float P0) override;
  void pointDone(std::int64_t index, const PointResult& result) override;

  // True when the last write failed (said on the failure stream).
  bool failed() const;

 private:
  // Writes what is new every tick, until stopped.
  void keepWriting();
  // Takes the states that the slots kept into the checkpoint; the caller holds mutex_.
  void collectStates();
  // Writes the checkpoint as it stands; `lock` holds mutex_, and is let go meanwhile.
  void write(std::unique_lock<std::mutex>& lock);
  // Says a failure that a write met, once, on the failure stream; called by the thread that
  // runs the sweep, which writes the other lines of that stream. `lock` as for write.
  void sayFailure(std::unique_lock<std::mutex>& lock);
  // Puts `state` of point `index` in the checkpoint unless it knows more of the point already.
  void learn(std::int64_t index, const PointState& state);

  std::string path_;
  std::ostream& errors_;
  std::function<std::int64_t()> elapsed_;
  std::chrono::milliseconds statesEvery_;
  std::chrono::milliseconds tick_;  // how often the writing thread looks
  std::int64_t sittingStart_ = 0;   // the clock when this sitting's sweep started
  std::int64_t elapsedBefore_;      // the sweep's time in the sittings before
  SweepWatcher* progress_ = nullptr;
  std::vector<std::unique_ptr<PointProgress>> slots_;

  mutable std::mutex mutex_;  // guards everything below
  std::condition_variable stopping_;
  Checkpoint checkpoint_;
  std::int64_t handedOn_ = 0;   // points handed on in this sitting, the resumed ones too
  bool pointsPending_ = false;  // handed on since the last write
  std::chrono::steady_clock::time_point lastWrite_;
  bool stop_ = false;
  bool failed_ = false;
  bool said_ = false;      // a failure was met
  std::string failure_;    // its line, until said
  std::mutex writeMutex_;  // one write of the file at a time
  std::thread writer_;
};

}  // namespace nbsim
