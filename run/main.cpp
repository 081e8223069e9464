// The entry point: wires the real clock, the terminal key reader and the standard streams into
// the run and turns its outcome into the exit status. Arguments are ignored.
#include <iostream>

#include "run/clock.h"
#include "run/key_reader.h"
#include "run/run_sequence.h"

int main() {
  nbsim::SystemClock clock;
  nbsim::TerminalKeyReader keys;
  nbsim::RunEnvironment environment{std::cout, std::cerr, clock, keys, {}};
  return nbsim::runProgram(environment);
}
