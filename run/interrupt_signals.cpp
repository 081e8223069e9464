// The interrupt handlers. A signal handler can only reach storage of static duration, so the
// record is the one object of the program that lives outside the run; it is written by the
// handler alone and read through a const reference.
#include "run/interrupt_signals.h"

#include <signal.h>
#include <unistd.h>

#include <cstring>
#include <mutex>

namespace nbsim {
namespace {

std::atomic<int> receivedSignal{0};
std::atomic<const termios*> rawTerminal{nullptr};
static_assert(std::atomic<int>::is_always_lock_free, "the handler needs a lock-free record");
static_assert(std::atomic<const termios*>::is_always_lock_free,
              "the handler needs a lock-free mode");

constexpr int handled[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

extern "C" void recordSignal(int signal) {
  int none = 0;
  if (receivedSignal.compare_exchange_strong(none, signal)) return;
  // A second signal ends the process at once, as the signal itself would; tcsetattr may be
  // called from a handler.
  if (const termios* mode = rawTerminal.load()) tcsetattr(STDIN_FILENO, TCSANOW, mode);
  struct sigaction fallback;
  std::memset(&fallback, 0, sizeof fallback);
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  sigaction(signal, &fallback, nullptr);
  raise(signal);
}

}  // namespace

const std::atomic<int>& catchInterruptSignals() {
  static std::once_flag installed;
  std::call_once(installed, [] {
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = recordSignal;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a read waiting for a key, or an open waiting on a FIFO, returns, so the
    // wait ends too.
    action.sa_flags = 0;
    for (const int signal : handled) sigaction(signal, &action, nullptr);
    struct sigaction ignore;
    std::memset(&ignore, 0, sizeof ignore);
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);
  });
  return receivedSignal;
}

const char* signalName(int signal) {
  switch (signal) {
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
    case SIGHUP:
      return "SIGHUP";
    case SIGQUIT:
      return "SIGQUIT";
    default:
      return "a signal";
  }
}

void restoreOnSignal(const termios* mode) { rawTerminal.store(mode); }

}  // namespace nbsim
