// The progress line of a running sweep: one slot per simulating thread, into which that thread
// publishes its current point, and a line that shows the point the console waits for.
//
// With points running in parallel, the line follows the earliest point of the sweep not yet
// written: its console line is the next to appear, so it is the point a user is waiting for, and
// its counts say how long that wait will be. Later points that run at the same time are not shown.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <ostream>
#include <thread>
#include <vector>

#include "engine/point_progress.h"
#include "run/clock.h"
#include "run/progress_line.h"

namespace nbsim {

// Where the progress line goes: standard error, whether it is a terminal (nothing is drawn
// otherwise), its width in columns, the clock that times the points, and how often the line
// looks at the point (it is drawn at most every intervalMilliseconds of `clock` all the same).
struct ProgressOutput {
  std::ostream* stream = nullptr;
  bool terminal = false;
  std::int32_t columns = 80;
  ElapsedClock* clock = nullptr;
  std::chrono::milliseconds period{ProgressLine::intervalMilliseconds};

  // True when a line can be drawn at all.
  bool drawable() const { return stream != nullptr && terminal && clock != nullptr; }
};

class SweepProgress : public SweepWatcher {
 public:
  // `slots` slots (at least 1), one per simulating thread; `volume` and `minBlockErr` are the
  // point's limits as the line shows them. `output` must be drawable;
  // its stream and clock must outlive this object.
  SweepProgress(const ProgressOutput& output, std::int32_t slots, std::uint64_t volume,
                std::int32_t minBlockErr);
  // Stops the ticking and erases the line.
  ~SweepProgress() override;

  SweepProgress(const SweepProgress&) = delete;
  SweepProgress& operator=(const SweepProgress&) = delete;

  // Slot `worker`, 0 .. slots - 1, for that worker's simulator to publish to.
  PointProgress& slot(std::int32_t worker) override {
    return slots_[static_cast<std::size_t>(worker)];
  }

  // Starts point `index` (in sweep order) at P0 in `slot`, timed from now. Called by the worker
  // that owns the slot.
  void startPoint(PointProgress& slot, std::int64_t index, float P0) override;

  // Erases the line and draws nothing until `watch`: called before the console gets a line.
  void suspend();

  // Shows point `index` (in sweep order) from now on.
  void watch(std::int64_t index);

  // Draws the watched point once, if the line's rules allow it now.
  void tick();

  // Calls tick every `period` of the output on a thread of its own until this object is
  // destroyed.
  void startTicking();

 private:
  ElapsedClock& clock_;
  std::chrono::milliseconds period_;
  std::vector<PointProgress> slots_;
  std::uint64_t volume_;
  std::int32_t minBlockErr_;

  std::mutex mutex_;  // guards everything below
  ProgressLine line_;
  std::int64_t watched_ = 0;
  bool showing_ = true;
  bool stopping_ = false;
  std::condition_variable stop_;
  std::thread ticker_;
};

}  // namespace nbsim
