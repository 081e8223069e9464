// SIGINT and SIGTERM turned into a request to end the run: the handler only records the signal,
// and the sweep, which checks the record before every block, ends after the points already
// complete, so that the report holds each of them.
#pragma once

#include <atomic>

namespace nbsim {

// Installs the handlers (once per process) and returns the record: 0, or the number of the
// first signal received. A second signal of either kind ends the process at once.
const std::atomic<int>& catchInterruptSignals();

// "SIGINT", "SIGTERM", or "a signal".
const char* signalName(int signal);

}  // namespace nbsim
