// The sweep's progress line: slots read under no lock, the line drawn under one.
#include "run/sweep_progress.h"

#include <algorithm>

namespace nbsim {

SweepProgress::SweepProgress(const ProgressOutput& output, std::int32_t slots, std::uint64_t volume,
                             std::int32_t minBlockErr)
    : clock_(*output.clock),
      period_(output.period),
      slots_(static_cast<std::size_t>(std::max(slots, 1))),
      volume_(volume),
      minBlockErr_(minBlockErr),
      line_(*output.stream, output.terminal, output.columns) {}

SweepProgress::~SweepProgress() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  stop_.notify_all();
  if (ticker_.joinable()) ticker_.join();
  line_.erase();
}

void SweepProgress::startPoint(PointProgress& slot, std::int64_t index, float P0) {
  slot.start(index, P0, clock_.milliseconds());
}

void SweepProgress::suspend() {
  const std::lock_guard<std::mutex> lock(mutex_);
  showing_ = false;
  line_.erase();
}

void SweepProgress::watch(std::int64_t index) {
  const std::lock_guard<std::mutex> lock(mutex_);
  watched_ = index;
  showing_ = true;
}

void SweepProgress::tick() {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (!showing_) return;
  for (const PointProgress& slot : slots_) {
    PointProgress::Snapshot snapshot;
    if (!slot.read(watched_, snapshot)) continue;
    const std::int64_t now = clock_.milliseconds();
    line_.show(PointStatus{snapshot.P0, snapshot.infoSymbols, volume_, snapshot.blockErrors,
                           minBlockErr_, now - snapshot.startedAt},
               now);
    return;
  }
}

void SweepProgress::startTicking() {
  ticker_ = std::thread([this] {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stop_.wait_for(lock, period_, [this] { return stopping_; })) {
      lock.unlock();
      tick();
      lock.lock();
    }
  });
}

}  // namespace nbsim
