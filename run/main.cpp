// The entry point: wires the real clocks, the terminal key reader, the standard streams, the
// thread count, the interrupt signals and the progress line on a terminal into the run and turns
// its outcome into the exit status. The command line may name the folder and a few options;
// anything it cannot understand ends the program before any file is touched.
#include <unistd.h>

#include <cstdlib>
#include <exception>
#include <iostream>
#include <new>
#include <string>
#include <thread>

#include "run/clock.h"
#include "run/command_line.h"
#include "run/interrupt_signals.h"
#include "run/key_reader.h"
#include "run/process.h"
#include "run/run_sequence.h"
#include "run/terminal.h"
#include "run/thread_count.h"

int main(int argc, char** argv) {
  nbsim::guardStandardDescriptors();
  nbsim::boundAllocatorArenas();
  const nbsim::CommandLine line = nbsim::parseCommandLine(argc, argv);
  switch (line.action) {
    case nbsim::CommandLine::Action::help:
    case nbsim::CommandLine::Action::version:
      std::cout << line.text << std::flush;
      return std::cout ? nbsim::exitSuccess : nbsim::exitResultsFile;
    case nbsim::CommandLine::Action::refuse:
      std::cerr << line.text << std::flush;
      return nbsim::exitUsage;
    case nbsim::CommandLine::Action::plot:
      std::cerr << "nbsim: --plot: PENDING\n";
      return nbsim::exitUsage;
    case nbsim::CommandLine::Action::run:
      break;
  }
  if (const auto refusal = nbsim::enterFolder(line.folder)) {
    std::cerr << *refusal << std::flush;
    return nbsim::exitUsage;
  }
  const std::atomic<int>& interrupt = nbsim::catchInterruptSignals();
  try {
    nbsim::SystemClock clock;
    nbsim::SteadyClock elapsed;
    nbsim::TerminalKeyReader terminalKeys(&interrupt);
    nbsim::NoKeyReader noKeys;
    nbsim::KeyReader& keys = line.noWait ? static_cast<nbsim::KeyReader&>(noKeys) : terminalKeys;
    nbsim::RunEnvironment environment{std::cout, std::cerr, clock, elapsed, keys, {}, {}, {}, line.seed};
    nbsim::SweepOptions& sweep = environment.sweep;
    sweep.interrupt = &interrupt;
    if (line.threads) {
      sweep.threads = *line.threads;
    } else {
      std::string warning;
      sweep.threads = nbsim::threadCount(std::getenv("NBSIM_THREADS"),
                                         std::thread::hardware_concurrency(), warning);
      if (!warning.empty()) std::cerr << "nbsim: " << warning << '\n' << std::flush;
    }
    // The progress line only on a terminal: standard error that goes to a file or a pipe gets
    // nothing but the failure lines.
    if (const auto columns = nbsim::terminalColumns(STDERR_FILENO)) {
      environment.progress = nbsim::ProgressOutput{&std::cerr, true, *columns, &elapsed};
    }
    return nbsim::runProgram(environment);
  } catch (const std::bad_alloc&) {
    std::cerr << "nbsim: out of memory\n" << std::flush;
  } catch (const std::exception& failure) {
    std::cerr << "nbsim: " << failure.what() << '\n' << std::flush;
  }
  return nbsim::exitRunFailed;
}
