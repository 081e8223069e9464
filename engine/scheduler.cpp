// The serial and the threaded scheduler.
#include "engine/scheduler.h"

#include <algorithm>
#include <chrono>
#include <utility>

namespace nbsim {
namespace {

// The next point of `points`, as point `index`, simulated on the calling thread in `watcher`'s
// slot 0.
Scheduler::Take simulateNext(SweepPoints& points, PointSimulator& simulator,
                             const StopRequest& stop, SweepWatcher* watcher, std::int64_t index,
                             PointResult& result) {
  float P0 = 0.0f;
  if (!points.next(P0)) return Scheduler::Take::end;
  const PointState* from = points.state(index);
  if (from && from->done) {
    result = from->result;
    return Scheduler::Take::point;
  }
  PointProgress* slot = watcher ? &watcher->slot(0) : nullptr;
  if (slot) watcher->startPoint(*slot, index, P0);
  if (!simulator.simulate(P0, result, stop, slot, from)) return Scheduler::Take::stopped;
  if (watcher) watcher->pointDone(index, result);
  return Scheduler::Take::point;
}

}  // namespace

std::thread startThread(std::function<void()> work) { return std::thread(std::move(work)); }

SerialScheduler::SerialScheduler(const SweepPoints& points, const SimulatorFactory& makeSimulator,
                                 const StopRequest& stop, SweepWatcher* watcher)
    : points_(points), simulator_(makeSimulator()), stop_(stop), watcher_(watcher) {}

Scheduler::Take SerialScheduler::take(std::int64_t index, PointResult& result) {
  return simulateNext(points_, *simulator_, stop_, watcher_, index, result);
}

ThreadScheduler::ThreadScheduler(const SweepPoints& points, const SimulatorFactory& makeSimulator,
                                 std::int32_t threads, const StopRequest& stop,
                                 SweepWatcher* watcher, std::int32_t window,
                                 const ThreadStarter& start)
    : points_(points),
      window_(window > 0 ? window : std::max(threads, 1) * pointsPerThreadAhead),
      watcher_(watcher),
      stop_{&abort_, stop.interrupt} {
  const std::int32_t count = std::max(threads, 1);
  shareable_ = count > 1;
  // Every simulator is made before any worker runs, so that a factory that throws leaves no
  // thread behind.
  for (std::int32_t t = 0; t < count; ++t) simulators_.push_back(makeSimulator());
  running_ = count;
  workers_.reserve(simulators_.size());
  for (std::int32_t t = 0; t < count; ++t) {
    PointSimulator& simulator = *simulators_[t];
    try {
      workers_.push_back(start([this, t, &simulator] { work(t, simulator); }));
    } catch (const std::exception&) {
      // The system starts no more threads (std::system_error, or no memory for one): the
      // workers started do the whole sweep, or the calling thread does.
      break;
    }
  }
  const auto started = static_cast<std::int32_t>(workers_.size());
  if (started < count) {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      running_ -= count - started;
    }
    simulators_.resize(static_cast<std::size_t>(std::max(started, 1)));
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
  try {
    simulate(worker, simulator);
  } catch (...) {
    // Kept for take; the other workers give up their points within a block.
    const std::lock_guard<std::mutex> lock(mutex_);
    if (!failure_) failure_ = std::current_exception();
    abort_.store(true);
  }
  const std::lock_guard<std::mutex> lock(mutex_);
  --running_;
  changed_.notify_all();
}

void ThreadScheduler::simulate(std::int32_t worker, PointSimulator& simulator) {
  auto* sharing = dynamic_cast<SharingPointSimulator*>(&simulator);
  PointResult result;
  for (;;) {
    float P0 = 0.0f;
    std::int64_t index = 0;
    PointShare* share = nullptr;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      const auto open = [this] { return !exhausted_ && started_ - taken_ < window_; };
      changed_.wait(lock, [&] {
        return stop_.raised() || open() || (sharing && (share = joinable()) != nullptr) ||
               (exhausted_ && shares_.empty());
      });
      if (share) {
        lock.unlock();
        // Leaves once the point is over, also when the stop ends it.
        share->help(*sharing);
        continue;
      }
      if (stop_.raised()) {
        cut_ = true;
        return;
      }
      if (exhausted_) return;
      if (!points_.next(P0)) {
        exhausted_ = true;
        changed_.notify_all();
        continue;
      }
      index = started_++;
    }
    const PointState* from = points_.state(index);
    if (from && from->done) {
      const std::lock_guard<std::mutex> lock(mutex_);
      finished_.emplace(index, from->result);
      changed_.notify_all();
      continue;
    }
    const bool done = simulateOwn(worker, simulator, index, P0, result, from);
    if (done && watcher_) watcher_->pointDone(index, result);
    const std::lock_guard<std::mutex> lock(mutex_);
    if (!done) {
      cut_ = true;
      return;
    }
    finished_.emplace(index, result);
    changed_.notify_all();
  }
}

bool ThreadScheduler::simulateOwn(std::int32_t worker, PointSimulator& simulator,
                                  std::int64_t index, float P0, PointResult& result,
                                  const PointState* from) {
  PointProgress* slot = watcher_ ? &watcher_->slot(worker) : nullptr;
  if (slot) watcher_->startPoint(*slot, index, P0);
  auto* sharing = dynamic_cast<SharingPointSimulator*>(&simulator);
  if (!sharing || !shareable_) return simulator.simulate(P0, result, stop_, slot, from);
  PointShare share;
  // However the point ends (also by an exception), it is no longer offered and its helpers
  // have left before `share` goes.
  struct Withdraw {
    ThreadScheduler& scheduler;
    PointShare& share;
    std::int64_t index;
    ~Withdraw() {
      {
        const std::lock_guard<std::mutex> lock(scheduler.mutex_);
        scheduler.shares_.erase(index);
        scheduler.changed_.notify_all();
      }
      share.close();
    }
  };
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    shares_.emplace(index, &share);
    changed_.notify_all();
  }
  const Withdraw withdraw{*this, share, index};
  return sharing->simulateShared(share, P0, result, stop_, slot, from);
}

PointShare* ThreadScheduler::joinable() {
  // Only once no point of its own is to be had.
  if (!exhausted_ && started_ - taken_ < window_) return nullptr;
  for (const auto& [index, share] : shares_) {
    if (share->join()) return share;
  }
  return nullptr;
}

Scheduler::Take ThreadScheduler::take(std::int64_t index, PointResult& result) {
  if (workers_.empty())
    return simulateNext(points_, *simulators_[0], stop_, watcher_, index, result);
  std::unique_lock<std::mutex> lock(mutex_);
  // A signal sets the interrupt without waking anyone, hence the bounded wait.
  while (finished_.count(index) == 0 && running_ > 0) {
    changed_.wait_for(lock, std::chrono::milliseconds(50));
  }
  const auto found = finished_.find(index);
  if (found == finished_.end()) {
    if (failure_) std::rethrow_exception(failure_);
    return cut_ ? Take::stopped : Take::end;
  }
  result = std::move(found->second);
  finished_.erase(found);
  taken_ = index + 1;
  changed_.notify_all();
  return Take::point;
}

}  // namespace nbsim
