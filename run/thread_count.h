// How many points the run simulates at once: every core, unless NBSIM_THREADS says otherwise.
#pragma once

#include <cstdint>
#include <string>

namespace nbsim {

// The upper limit of threads taken from NBSIM_THREADS.
constexpr std::int32_t maxThreads = 256;

// The thread count for `setting` (the value of NBSIM_THREADS, or null when it is not set) on a
// machine reporting `hardware` cores (0 when unknown, taken as 1). A whole number 1..256 is
// used as it is; anything else gives the core count and sets `warning` to one English sentence.
std::int32_t threadCount(const char* setting, unsigned hardware, std::string& warning);

}  // namespace nbsim
