// The entry point: wires the real clock, the terminal key reader, the standard streams, the
// thread count and the interrupt signals into the run and turns its outcome into the exit
// status. Arguments are ignored.
#include <cstdlib>
#include <iostream>
#include <string>
#include <thread>

#include "run/clock.h"
#include "run/interrupt_signals.h"
#include "run/key_reader.h"
#include "run/run_sequence.h"
#include "run/thread_count.h"

int main() {
  const std::atomic<int>& interrupt = nbsim::catchInterruptSignals();
  nbsim::SystemClock clock;
  nbsim::TerminalKeyReader keys(&interrupt);
  nbsim::SweepOptions sweep;
  sweep.interrupt = &interrupt;
  std::string warning;
  sweep.threads = nbsim::threadCount(std::getenv("NBSIM_THREADS"),
                                     std::thread::hardware_concurrency(), warning);
  if (!warning.empty()) std::cerr << "nbsim: " << warning << '\n' << std::flush;
  nbsim::RunEnvironment environment{std::cout, std::cerr, clock, keys, {}, sweep};
  return nbsim::runProgram(environment);
}
