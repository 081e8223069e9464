// The program as its command line asks for it: wires the real clocks, the terminal key reader,
// the standard streams, the thread count, the interrupt signals and the progress line on a
// terminal into the run and turns its outcome into the exit status.
#include "run/entry.h"

#include <unistd.h>

#include <cstdlib>
#include <exception>
#include <filesystem>
#include <iostream>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "output/run_comparison.h"
#include "run/clock.h"
#include "run/command_line.h"
#include "run/interrupt_signals.h"
#include "run/key_reader.h"
#include "run/process.h"
#include "run/run_sequence.h"
#include "run/terminal.h"
#include "run/thread_count.h"

namespace nbsim {

std::int32_t threadsFor(const CommandLine& line, std::ostream& errors) {
  if (line.threads) return *line.threads;
  std::string warning;
  const std::int32_t threads =
      threadCount(std::getenv("NBSIM_THREADS"), std::thread::hardware_concurrency(), warning);
  if (!warning.empty()) errors << "nbsim: " << warning << '\n' << std::flush;
  return threads;
}

int runCommandLine(int argc, const char* const* argv, const RemoteScheduler& remote,
                   std::int32_t ranks) {
  const CommandLine line = parseCommandLine(argc, argv);
  switch (line.action) {
    case CommandLine::Action::help:
    case CommandLine::Action::version:
      std::cout << line.text << std::flush;
      return std::cout ? exitSuccess : exitResultsFile;
    case CommandLine::Action::refuse:
      std::cerr << line.text << std::flush;
      return exitUsage;
    case CommandLine::Action::plot: {
      const std::vector<std::filesystem::path> runs(line.plotRuns.begin(), line.plotRuns.end());
      if (!writeRunComparison(runs, std::cout, std::cerr)) return exitPlotRuns;
      std::cout << std::flush;
      return std::cout ? exitSuccess : exitResultsFile;
    }
    case CommandLine::Action::run:
      break;
  }
  if (const auto refusal = enterFolder(line.folder)) {
    std::cerr << *refusal << std::flush;
    return exitUsage;
  }
  const std::atomic<int>& interrupt = catchInterruptSignals();
  try {
    SystemClock clock;
    SteadyClock elapsed;
    TerminalKeyReader terminalKeys(&interrupt);
    NoKeyReader noKeys;
    KeyReader& keys = line.noWait ? static_cast<KeyReader&>(noKeys) : terminalKeys;
    RunEnvironment environment{std::cout,   std::cerr,      clock,
                               elapsed,     keys,           RunFiles{},
                               SweepOptions{}, ProgressOutput{}, line.seed,
                               line.resume, line.folder};
    if (line.checkpointEvery) environment.checkpointEvery = *line.checkpointEvery;
    SweepOptions& sweep = environment.sweep;
    sweep.interrupt = &interrupt;
    sweep.remote = remote;
    sweep.ranks = ranks;
    sweep.threads = threadsFor(line, std::cerr);
    // The progress line only on a terminal: standard error that goes to a file or a pipe gets
    // nothing but the failure lines. Points simulated elsewhere report no progress.
    const auto columns = terminalColumns(STDERR_FILENO);
    if (columns && !remote) {
      environment.progress = ProgressOutput{&std::cerr, true, *columns, &elapsed};
    }
    return runProgram(environment);
  } catch (const std::bad_alloc&) {
    std::cerr << "nbsim: out of memory\n" << std::flush;
  } catch (const std::exception& failure) {
    std::cerr << "nbsim: " << failure.what() << '\n' << std::flush;
  }
  return exitRunFailed;
}

}  // namespace nbsim
