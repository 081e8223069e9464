// The command line: `nbsim [options] [DIR]`. With no argument the program runs in the current
// folder exactly as it always has; every option and a folder are read here before any file is
// touched, and anything that cannot be understood ends the program with one usage line.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace nbsim {

// The largest seed that `--seed` takes: the channel's generator uses the seed's low 21 bits, so
// every seed up to this one gives a run of its own.
constexpr std::int32_t largestSeed = (1 << 21) - 1;

struct CommandLine {
  enum class Action {
    run,      // simulate in `folder`
    help,     // print `text` (the usage) on standard output
    version,  // print `text` on standard output
    plot,     // draw the runs `plotRuns` on one plot to standard output
    refuse,   // print `text` (one line) on standard error and end with the usage status
  };
  Action action = Action::run;
  std::string folder;                   // the folder that holds the inputs; empty: the current one
  std::optional<std::int32_t> seed;     // the run seed instead of the clock's
  std::optional<std::int32_t> threads;  // the thread count, over NBSIM_THREADS
  bool noWait = false;                  // no key wait at the end
  bool resume = false;                  // go on with the interrupted run in `folder`
  std::optional<std::chrono::milliseconds> checkpointEvery;  // over the default
  std::vector<std::string> plotRuns;    // the run folders of --plot
  std::string text;                     // the help, the version or the refusal line
};

// Reads the arguments (argv[0] is the program's name). Never throws and never touches a file.
CommandLine parseCommandLine(int argc, const char* const* argv);

// Makes `folder` (when not empty) the current folder, where the run reads its inputs and writes
// its results. Returns the refusal line (with its line end) when it is not a folder that can be
// entered.
std::optional<std::string> enterFolder(const std::string& folder);

}  // namespace nbsim
