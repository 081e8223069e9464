// The interrupt handlers. A signal handler can only reach storage of static duration, so the
// record is the one object of the program that lives outside the run; it is written by the
// handler alone and read through a const reference.
#include "run/interrupt_signals.h"

#include <signal.h>

#include <cstring>
#include <mutex>

namespace nbsim {
namespace {

std::atomic<int> receivedSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "the handler needs a lock-free record");

extern "C" void recordSignal(int signal) {
  int none = 0;
  receivedSignal.compare_exchange_strong(none, signal);
  // Whichever comes next, SIGINT or SIGTERM, ends the process at once.
  struct sigaction fallback;
  std::memset(&fallback, 0, sizeof fallback);
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  sigaction(SIGINT, &fallback, nullptr);
  sigaction(SIGTERM, &fallback, nullptr);
}

}  // namespace

const std::atomic<int>& catchInterruptSignals() {
  static std::once_flag installed;
  std::call_once(installed, [] {
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = recordSignal;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a read waiting for a key returns, so the wait ends too.
    action.sa_flags = 0;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
  });
  return receivedSignal;
}

const char* signalName(int signal) {
  switch (signal) {
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
    default:
      return "a signal";
  }
}

}  // namespace nbsim
