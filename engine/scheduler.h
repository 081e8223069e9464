// Where the points of a sweep are simulated: on the calling thread, or on several threads at
// once with the results put back in sweep order. The sweep (sweep.h) takes the points in order
// and knows nothing of threads; smaller work units or other machines fit behind this same seam.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/point_progress.h"
#include "engine/point_share.h"
#include "engine/point_simulator.h"
#include "engine/sweep_points.h"

namespace nbsim {

// Makes a point simulator for one worker; called on the thread that builds the scheduler.
using SimulatorFactory = std::function<std::unique_ptr<PointSimulator>()>;

// Starts a thread that runs `work`; throws (std::system_error) when the system cannot start one.
using ThreadStarter = std::function<std::thread(std::function<void()> work)>;
// The plain std::thread.
std::thread startThread(std::function<void()> work);

class Scheduler {
 public:
  enum class Take {
    point,    // the point is in the result
    end,      // the sweep has no such point
    stopped,  // the stop request ended the sweep before the point was complete
  };

  virtual ~Scheduler() = default;

  // Point `index` of the sweep, asked for as 0, 1, 2, ... in turn: simulated on the calling
  // thread, or waited for from other threads. What a simulator throws reaches the caller here,
  // after every point completed before the one that threw.
  virtual Take take(std::int64_t index, PointResult& result) = 0;
};

// Every point on the calling thread, when it is asked for.
class SerialScheduler : public Scheduler {
 public:
  // `watcher`, when given, learns of every point started and gets slot 0.
  SerialScheduler(const SweepPoints& points, const SimulatorFactory& makeSimulator,
                  const StopRequest& stop, SweepWatcher* watcher = nullptr);

  Take take(std::int64_t index, PointResult& result) override;

 private:
  SweepPoints points_;
  std::unique_ptr<PointSimulator> simulator_;
  StopRequest stop_;
  SweepWatcher* watcher_;
};

// Points simulated on `threads` workers at once, each with a simulator of its own: a worker
// takes the next P0, simulates it and leaves the result for take, which hands results over by
// point index. A worker whose simulator throws stops the others; take rethrows the exception
// in place of the first point that is missing then.
class ThreadScheduler : public Scheduler {
 public:
  // Points a worker may run ahead of the next one to hand over: enough to stay busy past a slow
  // point, few enough to bound the results held.
  static constexpr std::int32_t pointsPerThreadAhead = 16;

  // Starts `threads` workers (at least 1) through `start`, or as many as the system allows;
  // when it allows none, take simulates every point on the calling thread. A worker starts a
  // point only while fewer than `window` points are started or waiting ahead of the next one to
  // hand over (by default pointsPerThreadAhead per thread). `watcher`, when given, gets worker
  // n's points in slot n (slot 0 for the calling thread).
  //
  // A worker with no point to start helps the earliest point under way whose simulator shares
  // points (SharingPointSimulator), so that the last, long points of a sweep use every thread.
  ThreadScheduler(const SweepPoints& points, const SimulatorFactory& makeSimulator,
                  std::int32_t threads, const StopRequest& stop, SweepWatcher* watcher = nullptr,
                  std::int32_t window = 0, const ThreadStarter& start = startThread);
  // Stops the workers within a block and waits for them.
  ~ThreadScheduler() override;

  ThreadScheduler(const ThreadScheduler&) = delete;
  ThreadScheduler& operator=(const ThreadScheduler&) = delete;

  Take take(std::int64_t index, PointResult& result) override;

  // The workers started; 0 when the points run on the calling thread.
  std::int32_t workers() const { return static_cast<std::int32_t>(workers_.size()); }

 private:
  // Worker `worker`: runs simulate, and keeps what it throws for take.
  void work(std::int32_t worker, PointSimulator& simulator);
  // Simulates points, or helps with those under way, until none is left or the stop is raised.
  void simulate(std::int32_t worker, PointSimulator& simulator);
  // One point of this worker's own, open to helpers while it runs; false when it was stopped.
  bool simulateOwn(std::int32_t worker, PointSimulator& simulator, std::int64_t index, float P0,
                   PointResult& result, const PointState* from);
  // The earliest point under way that takes a helper, joined; null when none does. The caller
  // holds mutex_.
  PointShare* joinable();

  SweepPoints points_;
  std::int32_t window_;
  SweepWatcher* watcher_;
  std::atomic<bool> abort_{false};
  StopRequest stop_;

  std::mutex mutex_;  // guards everything below
  std::condition_variable changed_;
  std::map<std::int64_t, PointResult> finished_;
  std::int64_t started_ = 0;
  std::int64_t taken_ = 0;
  std::int32_t running_ = 0;
  bool exhausted_ = false;
  bool cut_ = false;            // a worker left before the sweep ran out of points
  std::exception_ptr failure_;  // the first exception a worker caught; it stopped the others
  bool shareable_ = false;      // set before any worker runs: there may be threads to help
  std::map<std::int64_t, PointShare*> shares_;  // the points under way that helpers may join

  std::vector<std::unique_ptr<PointSimulator>> simulators_;
  std::vector<std::thread> workers_;
};

}  // namespace nbsim
