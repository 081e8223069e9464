// One key from standard input, raw on a terminal.
#include "run/key_reader.h"

#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "run/interrupt_signals.h"

namespace nbsim {
namespace {

void readOneByte(const std::atomic<int>* interrupt) {
  unsigned char byte = 0;
  if (interrupt && interrupt->load() != 0) return;
  while (read(STDIN_FILENO, &byte, 1) < 0 && errno == EINTR) {
    if (interrupt && interrupt->load() != 0) return;
  }
}

// Ignores the signals that stop a background job touching its terminal while it lives, so that
// a wait whose job is sent to the background fails its read instead of stopping the process.
class TerminalStopsIgnored {
 public:
  TerminalStopsIgnored() {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGTTIN, &ignore, &savedInput_);
    sigaction(SIGTTOU, &ignore, &savedOutput_);
  }
  ~TerminalStopsIgnored() {
    sigaction(SIGTTIN, &savedInput_, nullptr);
    sigaction(SIGTTOU, &savedOutput_, nullptr);
  }
  TerminalStopsIgnored(const TerminalStopsIgnored&) = delete;
  TerminalStopsIgnored& operator=(const TerminalStopsIgnored&) = delete;

 private:
  struct sigaction savedInput_ {};
  struct sigaction savedOutput_ {};
};

}  // namespace

void TerminalKeyReader::waitForKey() {
  termios saved{};
  if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &saved) != 0) {
    readOneByte(interrupt_);
    return;
  }
  // A background job (`nbsim > log &`) would be stopped by its first read of the terminal and
  // never end unattended: it does not wait.
  if (tcgetpgrp(STDIN_FILENO) != getpgrp()) return;
  const TerminalStopsIgnored stopsIgnored;
  termios raw = saved;
  raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  // Whatever ends the wait, the terminal gets its mode back: the wait's own end, a signal that
  // ends the wait, or a second signal that ends the process.
  restoreOnSignal(&saved);
  tcsetattr(STDIN_FILENO, TCSANOW, &raw);
  readOneByte(interrupt_);
  tcsetattr(STDIN_FILENO, TCSANOW, &saved);
  restoreOnSignal(nullptr);
}

}  // namespace nbsim
