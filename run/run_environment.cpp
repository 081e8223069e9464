// The environment's few functions of its own.
#include "run/run_environment.h"

#include "run/interrupt_signals.h"

namespace nbsim {

int receivedSignal(const RunEnvironment& environment) {
  return environment.sweep.interrupt ? environment.sweep.interrupt->load() : 0;
}

int interruption(RunEnvironment& environment, int signal, const std::string& what) {
  environment.errors << "nbsim: interrupted by " << signalName(signal) << "; " << what << '\n'
                     << std::flush;
  return exitInterruptedBase + signal;
}

}  // namespace nbsim
