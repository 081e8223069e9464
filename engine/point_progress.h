// How far the point that a simulator is working on has come: published by the simulating thread
// after every block, read by the progress line on another thread. Every field is an atomic stored
// with release and loaded with acquire order, which on the common processors are plain stores
// and loads: publishing a block costs two of them. No standalone fence, so that ThreadSanitizer
// follows the ordering too.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <utility>

#include "engine/point_result.h"

namespace nbsim {

class PointProgress {
 public:
  // What a reader sees of one point.
  struct Snapshot {
    float P0 = 0.0f;
    std::int64_t startedAt = 0;  // milliseconds of the ElapsedClock that timed the point
    std::int64_t infoSymbols = 0;
    std::int32_t blockErrors = 0;
  };

  // Starts point `index` (in sweep order) at P0, begun at `startedAt` milliseconds, with zero
  // counts. Called by the simulating thread before the point's first block.
  void start(std::int64_t index, float P0, std::int64_t startedAt) {
    // Readers that see the new index also see the fields written before it. The index is
    // cleared first, and every field is stored after it with release order, so that a reader
    // that loads a new field with acquire order sees the cleared index (or a later one) after
    // it and never takes the new fields for the old point.
    index_.store(-1, std::memory_order_relaxed);
    P0_.store(P0, std::memory_order_release);
    startedAt_.store(startedAt, std::memory_order_release);
    infoSymbols_.store(0, std::memory_order_release);
    blockErrors_.store(0, std::memory_order_release);
    handOver_.store(false, std::memory_order_relaxed);
    index_.store(index, std::memory_order_release);
  }

  // The counts after a block; called by the simulating thread.
  void publish(const PointCounters& counters) {
    infoSymbols_.store(counters.infoSymbols, std::memory_order_release);
    blockErrors_.store(counters.blockErrors, std::memory_order_release);
  }

  // Asks the simulating thread to keep its point's state (keepState) before its next block.
  void requestState() { stateWanted_.store(true, std::memory_order_relaxed); }
  // Whether a state was asked for; one load, made before every block.
  bool stateWanted() const { return stateWanted_.load(std::memory_order_acquire); }
  // Asks the simulating thread to keep its point's state before its next block and to end the
  // point there, so that other threads can share the rest of it.
  void requestHandOver() {
    handOver_.store(true, std::memory_order_relaxed);
    stateWanted_.store(true, std::memory_order_release);
  }
  // Whether the point is to end at the state kept; read after keepState.
  bool handingOver() const { return handOver_.load(std::memory_order_relaxed); }
  // Keeps the state of the slot's point between two blocks: its counts so far in `result` and the
  // draw where its next block starts. Called by the simulating thread.
  void keepState(const PointResult& result, std::int64_t nextDraw) {
    stateWanted_.store(false, std::memory_order_relaxed);
    const std::lock_guard<std::mutex> lock(stateMutex_);
    stateIndex_ = index_.load(std::memory_order_relaxed);
    state_.result = result;
    state_.nextDraw = nextDraw;
  }
  // The last state kept, with the index of its point; none before the first.
  std::optional<std::pair<std::int64_t, PointState>> keptState() const {
    const std::lock_guard<std::mutex> lock(stateMutex_);
    if (stateIndex_ < 0) return std::nullopt;
    return std::make_pair(stateIndex_, state_);
  }

  // Reads point `index` into `snapshot`; false when this slot holds another point, or moved on to
  // another one while it was read.
  bool read(std::int64_t index, Snapshot& snapshot) const {
    if (index_.load(std::memory_order_acquire) != index) return false;
    snapshot.P0 = P0_.load(std::memory_order_acquire);
    snapshot.startedAt = startedAt_.load(std::memory_order_acquire);
    snapshot.infoSymbols = infoSymbols_.load(std::memory_order_acquire);
    snapshot.blockErrors = blockErrors_.load(std::memory_order_acquire);
    return index_.load(std::memory_order_relaxed) == index;
  }

 private:
  // A cache line of its own, so that threads publishing to neighbouring slots do not slow each
  // other down.
  alignas(64) std::atomic<std::int64_t> index_{-1};
  std::atomic<float> P0_{0.0f};
  std::atomic<std::int64_t> startedAt_{0};
  std::atomic<std::int64_t> infoSymbols_{0};
  std::atomic<std::int32_t> blockErrors_{0};
  std::atomic<bool> stateWanted_{false};
  std::atomic<bool> handOver_{false};

  mutable std::mutex stateMutex_;  // guards the kept state
  std::int64_t stateIndex_ = -1;
  PointState state_;
};

}  // namespace nbsim

namespace nbsim {

// Told where each worker of a sweep stands; the live progress line implements it.
class SweepWatcher {
 public:
  virtual ~SweepWatcher() = default;
  // The slot that worker `worker` (0 .. threads - 1) publishes its points to.
  virtual PointProgress& slot(std::int32_t worker) = 0;
  // `slot` starts point `index` (in sweep order) at P0, timed from now. Called by the worker
  // that owns the slot.
  virtual void startPoint(PointProgress& slot, std::int64_t index, float P0) = 0;
  // Point `index` is complete with `result`; told by the thread that simulated it, before the
  // point is handed over, which may be later, after the points before it.
  virtual void pointDone(std::int64_t index, const PointResult& result) {
    (void)index;
    (void)result;
  }
};

}  // namespace nbsim
