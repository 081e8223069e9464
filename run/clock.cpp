// The system clocks behind the Clock and ElapsedClock interfaces.
#include "run/clock.h"

#include <chrono>

namespace nbsim {

ClockReading SystemClock::now() {
  const auto since = std::chrono::system_clock::now().time_since_epoch();
  const auto milliseconds = std::chrono::floor<std::chrono::milliseconds>(since).count();
  // Floor division keeps the millisecond part in 0..999 also before the epoch.
  std::int64_t seconds = milliseconds / 1000;
  std::int64_t part = milliseconds % 1000;
  if (part < 0) {
    part += 1000;
    seconds -= 1;
  }
  return ClockReading{seconds, static_cast<std::int32_t>(part)};
}

std::int64_t SteadyClock::milliseconds() {
  const auto since = std::chrono::steady_clock::now().time_since_epoch();
  return std::chrono::duration_cast<std::chrono::milliseconds>(since).count();
}

}  // namespace nbsim
