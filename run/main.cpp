// The entry point: wires the real clock, the terminal key reader, the standard streams and the
// thread count into the run and turns its outcome into the exit status. Arguments are ignored.
#include <cstdlib>
#include <iostream>
#include <string>
#include <thread>

#include "run/clock.h"
#include "run/key_reader.h"
#include "run/run_sequence.h"
#include "run/thread_count.h"

int main() {
  nbsim::SystemClock clock;
  nbsim::TerminalKeyReader keys;
  nbsim::SweepOptions sweep;
  std::string warning;
  sweep.threads = nbsim::threadCount(std::getenv("NBSIM_THREADS"),
                                     std::thread::hardware_concurrency(), warning);
  if (!warning.empty()) std::cerr << "nbsim: " << warning << '\n' << std::flush;
  nbsim::RunEnvironment environment{std::cout, std::cerr, clock, keys, {}, sweep};
  return nbsim::runProgram(environment);
}
