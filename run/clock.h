// The wall clock, injected so that tests can fix the time that seeds the run and stamps it.
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

}  // namespace nbsim
