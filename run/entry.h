// The program's entry, shared by the plain program and the one that runs on many machines.
#pragma once

#include <cstdint>
#include <ostream>

#include "engine/sweep.h"
#include "run/command_line.h"

namespace nbsim {

// Runs the program as the command line `argv` (argc words, the program's name first) asks and
// returns the exit status. `remote`, when set, simulates the sweep's points in `ranks` processes
// instead of this one's threads. The standard descriptors must be guarded first.
int runCommandLine(int argc, const char* const* argv, const RemoteScheduler& remote = {},
                   std::int32_t ranks = 1);

// The threads to simulate on: --threads, else NBSIM_THREADS (with a warning on `errors` for a bad
// value), else every core.
std::int32_t threadsFor(const CommandLine& line, std::ostream& errors);

}  // namespace nbsim
