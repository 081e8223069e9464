// One point shared by several threads. A point is the prefix of its block sequence up to the
// block where its stopping rule holds, and each block depends only on its own draws: so the
// point's owner can hand out the work of a stretch of blocks as tasks that any thread runs, and
// commit their results in order, stopping exactly where one thread alone would. The owner runs
// the point in phases of tasks; threads with nothing else to do join it and take tasks too.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <utility>

#include "engine/point_simulator.h"

namespace nbsim {

class PointShare;

// A point simulator that can share its points with the simulators of other threads of the same
// sweep (each of the same kind).
class SharingPointSimulator {
 public:
  virtual ~SharingPointSimulator() = default;

  // Simulates the point at P0 as PointSimulator::simulate does (from `from`, when given),
  // handing tasks to whoever joins `share`.
  virtual bool simulateShared(PointShare& share, float P0, PointResult& result,
                              const StopRequest& stop, PointProgress* progress,
                              const PointState* from = nullptr) = 0;
};

class PointShare {
 public:
  // Task `task` of a phase, run by any thread of the point with that thread's simulator.
  using Task = std::function<void(SharingPointSimulator& worker, std::int64_t task)>;

  PointShare() = default;
  PointShare(const PointShare&) = delete;
  PointShare& operator=(const PointShare&) = delete;

  // Another thread offers help: true when the point takes it (it is not over); the thread must
  // then call help.
  bool join() {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) return false;
    ++joined_;
    helped_.store(true, std::memory_order_release);
    return true;
  }
  // Whether a thread has joined since the point began.
  bool helped() const { return helped_.load(std::memory_order_acquire); }

  // A thread that joined: runs the tasks of every phase with `worker` until the point is over,
  // then leaves.
  void help(SharingPointSimulator& worker) {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      changed_.wait(lock, [this] { return closed_ || next_ < count_; });
      if (next_ >= count_) break;  // closed
      runClaimed(lock, worker);
      ++helperTasks_;
    }
    --joined_;
    changed_.notify_all();
  }

  // The owner: runs tasks 0 .. count - 1 of `task` on this thread with `self` and on every
  // thread that helps, and returns once all are done. What a task threw on another thread is
  // thrown here.
  void run(std::int64_t count, const Task& task, SharingPointSimulator& self) {
    std::unique_lock<std::mutex> lock(mutex_);
    task_ = &task;
    next_ = 0;
    done_ = 0;
    count_ = count;
    changed_.notify_all();
    while (next_ < count_) runClaimed(lock, self);
    changed_.wait(lock, [this] { return done_ == count_; });
    count_ = 0;
    next_ = 0;
    task_ = nullptr;
    if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
  }

  // The tasks that other threads ran so far.
  std::int64_t helperTasks() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return helperTasks_;
  }

  // The owner: the point is over; returns once every thread that joined has left.
  void close() {
    std::unique_lock<std::mutex> lock(mutex_);
    closed_ = true;
    changed_.notify_all();
    changed_.wait(lock, [this] { return joined_ == 0; });
  }

 private:
  // Claims the next task and runs it without the lock; `lock` holds mutex_ before and after.
  void runClaimed(std::unique_lock<std::mutex>& lock, SharingPointSimulator& worker) {
    const std::int64_t task = next_++;
    const Task& run = *task_;
    lock.unlock();
    std::exception_ptr failure;
    try {
      run(worker, task);
    } catch (...) {
      failure = std::current_exception();
    }
    lock.lock();
    if (failure && !failure_) failure_ = failure;
    if (++done_ == count_) changed_.notify_all();
  }

  std::atomic<bool> helped_{false};
  std::mutex mutex_;  // guards everything below
  std::condition_variable changed_;
  bool closed_ = false;
  std::int32_t joined_ = 0;
  const Task* task_ = nullptr;
  std::int64_t count_ = 0;  // tasks of the phase under way (0: none)
  std::int64_t next_ = 0;   // the next task to claim
  std::int64_t done_ = 0;   // tasks finished
  std::int64_t helperTasks_ = 0;
  std::exception_ptr failure_;
};

}  // namespace nbsim
