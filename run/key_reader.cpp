// One key from standard input, raw on a terminal.
#include "run/key_reader.h"

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

}  // namespace

void TerminalKeyReader::waitForKey() {
  termios saved{};
  if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &saved) != 0) {
    readOneByte(interrupt_);
    return;
  }
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
