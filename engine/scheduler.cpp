// The serial and the threaded scheduler.
#include "engine/scheduler.h"

#include <algorithm>
#include <chrono>

namespace nbsim {

SerialScheduler::SerialScheduler(const SweepPoints& points, const SimulatorFactory& makeSimulator,
                                 const StopRequest& stop, SweepWatcher* watcher)
    : points_(points), simulator_(makeSimulator()), stop_(stop), watcher_(watcher) {}

Scheduler::Take SerialScheduler::take(std::int64_t index, PointResult& result) {
  float P0 = 0.0f;
  if (!points_.next(P0)) return Take::end;
  PointProgress* slot = watcher_ ? &watcher_->slot(0) : nullptr;
  if (slot) watcher_->startPoint(*slot, index, P0);
  return simulator_->simulate(P0, result, stop_, slot) ? Take::point : Take::stopped;
}

ThreadScheduler::ThreadScheduler(const SweepPoints& points, const SimulatorFactory& makeSimulator,
                                 std::int32_t threads, const StopRequest& stop,
                                 SweepWatcher* watcher, std::int32_t window)
    : points_(points),
      window_(window > 0 ? window : std::max(threads, 1) * pointsPerThreadAhead),
      watcher_(watcher),
      stop_{&abort_, stop.interrupt} {
  const std::int32_t count = std::max(threads, 1);
  for (std::int32_t t = 0; t < count; ++t) simulators_.push_back(makeSimulator());
  running_ = count;
  workers_.reserve(simulators_.size());
  for (std::int32_t t = 0; t < count; ++t) {
    workers_.emplace_back(&ThreadScheduler::work, this, t, std::ref(*simulators_[t]));
  }
}

ThreadScheduler::~ThreadScheduler() {
  abort_.store(true);
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    changed_.notify_all();
  }
  for (std::thread& worker : workers_) worker.join();
}

void ThreadScheduler::work(std::int32_t worker, PointSimulator& simulator) {
  PointProgress* slot = watcher_ ? &watcher_->slot(worker) : nullptr;
  PointResult result;
  for (;;) {
    float P0 = 0.0f;
    std::int64_t index = 0;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock,
                    [&] { return exhausted_ || stop_.raised() || started_ - taken_ < window_; });
      if (exhausted_) break;
      if (stop_.raised()) {
        cut_ = true;
        break;
      }
      if (!points_.next(P0)) {
        exhausted_ = true;
        break;
      }
      index = started_++;
    }
    if (slot) watcher_->startPoint(*slot, index, P0);
    const bool done = simulator.simulate(P0, result, stop_, slot);
    const std::lock_guard<std::mutex> lock(mutex_);
    if (!done) {
      cut_ = true;
      break;
    }
    finished_.emplace(index, result);
    changed_.notify_all();
  }
  const std::lock_guard<std::mutex> lock(mutex_);
  --running_;
  changed_.notify_all();
}

Scheduler::Take ThreadScheduler::take(std::int64_t index, PointResult& result) {
  std::unique_lock<std::mutex> lock(mutex_);
  // A signal sets the interrupt without waking anyone, hence the bounded wait.
  while (finished_.count(index) == 0 && running_ > 0) {
    changed_.wait_for(lock, std::chrono::milliseconds(50));
  }
  const auto found = finished_.find(index);
  if (found == finished_.end()) return cut_ ? Take::stopped : Take::end;
  result = std::move(found->second);
  finished_.erase(found);
  taken_ = index + 1;
  changed_.notify_all();
  return Take::point;
}

}  // namespace nbsim
