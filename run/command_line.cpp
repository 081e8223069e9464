// Reading the command line with CLI11.
#include "run/command_line.h"

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "output/program_version.h"
#include "run/thread_count.h"

namespace nbsim {
namespace {

constexpr const char* usage =
    "usage: nbsim [-h] [--version] [--seed N | --resume] [--threads N] [--checkpoint-every S]"
    " [--no-wait] [DIR]"
    " | nbsim --plot RUN...";

constexpr const char* help =
    "Simulates the threshold decoder of the code in DIR/encoder.txt over a Q-ary symmetric\n"
    "channel, sweeping P0 as DIR/param.txt says, and writes result.txt, result.csv,\n"
    "result.json and result.svg into DIR (default: the current folder).\n"
    "\n"
    "options:\n"
    "  -h, --help      print this help and exit\n"
    "  --version       print the program's version and exit\n"
    "  --seed N        simulate with run seed N (0..2097151) instead of the one drawn from the\n"
    "                  clock; the seed that result.json records repeats that run\n"
    "  --resume        go on with the interrupted run in DIR from its checkpoint\n"
    "                  (nbsim.checkpoint), to the same results as a run never interrupted\n"
    "  --threads N     simulate on N threads (1..256), over NBSIM_THREADS\n"
    "  --checkpoint-every S\n"
    "                  take the points in progress into the checkpoint every S seconds\n"
    "                  (0.01..86400, default 2): at most that much work is lost in a crash\n"
    "  --no-wait       end without waiting for a key\n"
    "  --plot RUN...   draw the results of the run folders RUN on one plot, as SVG on\n"
    "                  standard output; simulates nothing\n"
    "\n"
    "exit status: 0 done, 1 param.txt, 2 encoder.txt, 3 result.txt, 4 result.csv, result.json,\n"
    "result.svg, nbsim.checkpoint or the console, 5 folder in use, 6 simulation failed,\n"
    "7 no run to resume, 8 inputs changed since the run, 9 checkpoint unreadable,\n"
    "64 command line, 65 a --plot run that cannot be read, 128+N signal N\n";

CommandLine refusal(const std::string& why) {
  CommandLine line;
  line.action = CommandLine::Action::refuse;
  line.text = "nbsim: " + why + "; " + usage + "\n";
  return line;
}

}  // namespace

CommandLine parseCommandLine(int argc, const char* const* argv) {
  CommandLine line;
  CLI::App app("nbsim", "nbsim");
  app.set_help_flag();  // help is answered below, with the program's own text
  bool wantsHelp = false;
  bool wantsVersion = false;
  bool plot = false;
  std::vector<std::string> folders;
  app.add_flag("-h,--help", wantsHelp);
  app.add_flag("--version", wantsVersion);
  std::int32_t seed = 0;
  std::int32_t threads = 0;
  CLI::Option* seedOption = app.add_option("--seed", seed)->check(CLI::Range(0, largestSeed));
  CLI::Option* threadsOption =
      app.add_option("--threads", threads)->check(CLI::Range(1, maxThreads));
  app.add_flag("--no-wait", line.noWait);
  app.add_flag("--resume", line.resume);
  double checkpointSeconds = 0;
  CLI::Option* checkpointOption =
      app.add_option("--checkpoint-every", checkpointSeconds)->check(CLI::Range(0.01, 86400.0));
  app.add_flag("--plot", plot);
  app.add_option("DIR", folders);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    return refusal(error.what());
  }
  if (seedOption->count() > 0) line.seed = seed;
  if (threadsOption->count() > 0) line.threads = threads;
  if (checkpointOption->count() > 0) {
    line.checkpointEvery =
        std::chrono::milliseconds(static_cast<std::int64_t>(checkpointSeconds * 1000 + 0.5));
  }
  if (wantsHelp) {
    line.action = CommandLine::Action::help;
    line.text = std::string(usage) + "\n\n" + help;
    return line;
  }
  if (wantsVersion) {
    line.action = CommandLine::Action::version;
    line.text = "nbsim " + std::string(programVersion()) + "\n";
    return line;
  }
  if (plot) {
    if (line.seed || line.threads || line.noWait || line.resume || line.checkpointEvery) {
      return refusal("--plot takes no other option");
    }
    if (folders.empty()) return refusal("--plot needs at least one run folder");
    line.action = CommandLine::Action::plot;
    line.plotRuns = folders;
    return line;
  }
  if (line.resume && line.seed) {
    return refusal("--seed cannot go with --resume: the run goes on with its own seed");
  }
  if (folders.size() > 1) return refusal("one folder at most, not \"" + folders[1] + "\" too");
  if (!folders.empty()) {
    if (folders[0].empty()) return refusal("the folder name is empty");
    line.folder = folders[0];
  }
  return line;
}

std::optional<std::string> enterFolder(const std::string& folder) {
  if (folder.empty()) return std::nullopt;
  std::error_code error;
  if (!std::filesystem::is_directory(folder, error)) {
    return refusal("\"" + folder + "\" is not a folder").text;
  }
  if (chdir(folder.c_str()) != 0) {
    return refusal("cannot enter \"" + folder + "\": " + std::strerror(errno)).text;
  }
  return std::nullopt;
}

}  // namespace nbsim
