// Reading NBSIM_THREADS.
#include "run/thread_count.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace nbsim {

std::int32_t threadCount(const char* setting, unsigned hardware, std::string& warning) {
  const auto cores = static_cast<std::int32_t>(
      std::clamp<unsigned>(hardware, 1, static_cast<unsigned>(maxThreads)));
  if (setting == nullptr || *setting == '\0') return cores;
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(setting, &end, 10);
  if (errno != 0 || *end != '\0' || end == setting || value < 1 || value > maxThreads) {
    warning = "NBSIM_THREADS=" + std::string(setting) + " is not a whole number from 1 to " +
              std::to_string(maxThreads) + "; using " + std::to_string(cores) + " threads";
    return cores;
  }
  return static_cast<std::int32_t>(value);
}

}  // namespace nbsim
