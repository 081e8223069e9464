// SIGINT, SIGTERM, SIGHUP and SIGQUIT turned into a request to end the run: the handler only
// records the signal, and the sweep, which checks the record before every block, ends after the
// points already complete, so that the report holds each of them.
#pragma once

#include <termios.h>

#include <atomic>

namespace nbsim {

// Installs the handlers (once per process) and ignores SIGPIPE, so that a closed pipe on
// standard output is a failed write the run survives, not the end of the process. Returns the
// record: 0, or the number of the first signal received. A second signal of these ends the
// process at once, with the terminal's mode restored.
const std::atomic<int>& catchInterruptSignals();

// "SIGINT", "SIGTERM", "SIGHUP", "SIGQUIT", or "a signal".
const char* signalName(int signal);

// The terminal mode that a second signal restores before it ends the process: set while the
// key wait holds the terminal in its raw mode, cleared (nullptr) after. `mode` must stay valid
// while it is set.
void restoreOnSignal(const termios* mode);

}  // namespace nbsim
