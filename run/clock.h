// The clocks of a run, injected so that tests can fix them: the wall clock, whose time seeds the
// run and stamps it, and the elapsed-time clock that times the points for the progress line.
#pragma once

#include <cstdint>

namespace nbsim {

// Seconds since the epoch and a millisecond part 0..999.
struct ClockReading {
  std::int64_t seconds = 0;
  std::int32_t milliseconds = 0;
};

class Clock {
 public:
  virtual ~Clock() = default;
  virtual ClockReading now() = 0;
};

// The system's real-time clock.
class SystemClock : public Clock {
 public:
  ClockReading now() override;
};

// Milliseconds since some fixed moment, never going back: for measuring how long something runs.
// May be read from several threads at once.
class ElapsedClock {
 public:
  virtual ~ElapsedClock() = default;
  virtual std::int64_t milliseconds() = 0;
};

// The system's monotonic clock.
class SteadyClock : public ElapsedClock {
 public:
  std::int64_t milliseconds() override;
};

}  // namespace nbsim
