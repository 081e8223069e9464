// The command line: what each option does, that help, a bad option or a missing folder touch no
// file, and that a run in the background of its terminal or with --no-wait ends by itself.
#include "run/command_line.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <string>
#include <vector>

#include "run/run_environment.h"
#include "tests/run/program_runner.h"
#include "tests/support/input_files.h"

namespace nbsim::testing {
namespace {

const std::string inputs = parameterFile("16", "0.1", "0.08", "0.01", "700", "5", "3");
const std::string earlierReport = "an earlier report\r\n";

CommandLine parse(std::vector<const char*> arguments) {
  arguments.insert(arguments.begin(), "nbsim");
  return parseCommandLine(static_cast<int>(arguments.size()), arguments.data());
}

TEST(ParseCommandLine, ReadsEveryOption) {
  const CommandLine none = parse({});
  EXPECT_EQ(none.action, CommandLine::Action::run);
  EXPECT_EQ(none.folder, "");
  EXPECT_FALSE(none.seed || none.threads || none.noWait);

  const CommandLine all = parse({"--seed", "2097151", "--threads", "3", "--no-wait", "runs/a"});
  EXPECT_EQ(all.action, CommandLine::Action::run);
  EXPECT_EQ(all.folder, "runs/a");
  EXPECT_EQ(all.seed, 2097151);
  EXPECT_EQ(all.threads, 3);
  EXPECT_TRUE(all.noWait);

  const CommandLine plot = parse({"--plot", "a", "b"});
  EXPECT_EQ(plot.action, CommandLine::Action::plot);
  EXPECT_EQ(plot.plotRuns, (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(parse({"-h"}).action, CommandLine::Action::help);
  EXPECT_EQ(parse({"--version"}).action, CommandLine::Action::version);
}

// A folder with inputs and an earlier report, and what it held before the run.
struct FolderWithResults {
  FolderWithResults() {
    folder.write("param.txt", inputs);
    folder.write("encoder.txt", shortCode);
    folder.write("result.txt", earlierReport);
    before = folder.listing();
  }
  ProgramFolder folder;
  std::string before;
};

TEST(CommandLine, HelpAndVersionAnswerOnStandardOutputAndTouchNothing) {
  FolderWithResults run;
  for (const char* arguments : {"--help", "-h", "--version"}) {
    const ProgramOutcome outcome = run.folder.run(-1, arguments);
    EXPECT_EQ(outcome.exitStatus, 0) << arguments;
    EXPECT_EQ(outcome.console.rfind(arguments[2] == 'v' ? "nbsim " : "usage: nbsim", 0), 0u)
        << outcome.console;
    EXPECT_EQ(outcome.errors, "");
    EXPECT_EQ(run.folder.listing(), run.before);
    EXPECT_EQ(run.folder.read("result.txt"), earlierReport);
  }
}

TEST(CommandLine, RefusesWhatItCannotUnderstandWithOneUsageLineAndTouchesNothing) {
  FolderWithResults run;
  for (const char* arguments :
       {"--bogus", "a b", "--seed -1", "--seed 2097152", "--seed x", "--seed", "--threads 0",
        "--threads 257", "missing-folder", "param.txt", "--plot", "--plot a --seed 3", "''"}) {
    const ProgramOutcome outcome = run.folder.run(-1, arguments);
    EXPECT_EQ(outcome.exitStatus, exitUsage) << arguments;
    EXPECT_EQ(outcome.console, "");
    EXPECT_EQ(outcome.errors.rfind("nbsim: ", 0), 0u) << outcome.errors;
    EXPECT_NE(outcome.errors.find("usage: nbsim"), std::string::npos) << outcome.errors;
    EXPECT_EQ(std::count(outcome.errors.begin(), outcome.errors.end(), '\n'), 1);
    EXPECT_EQ(run.folder.listing(), run.before);
    EXPECT_EQ(run.folder.read("result.txt"), earlierReport);
  }
}

// The seed that a run's result.json records.
std::string recordedSeed(const std::string& json) {
  const std::string key = "\"seed\": ";
  const std::size_t at = json.find(key) + key.size();
  return json.substr(at, json.find_first_not_of("0123456789", at) - at);
}

TEST(CommandLine, RunsInTheNamedFolderRepeatsARunFromItsSeedAndPlotsRuns) {
  ProgramFolder here;
  std::filesystem::create_directory(here.path() / "first");
  std::filesystem::create_directory(here.path() / "again");
  for (const char* sub : {"first/", "again/"}) {
    here.write(std::string(sub) + "param.txt", inputs);
    here.write(std::string(sub) + "encoder.txt", shortCode);
  }
  constexpr long long second = 1600000000;
  const ProgramOutcome first = here.run(second, "--no-wait first");
  ASSERT_EQ(first.exitStatus, 0) << first.errors;
  EXPECT_FALSE(here.exists("result.txt"));
  const std::string seed = recordedSeed(here.read("first/result.json"));

  // Another clock second draws another seed; the recorded one repeats the first run, and
  // --threads takes the place of a bad NBSIM_THREADS without a word.
  const ProgramOutcome other = here.run(second + 7, "--no-wait again");
  ASSERT_EQ(other.exitStatus, 0);
  EXPECT_NE(here.read("again/result.txt"), here.read("first/result.txt"));
  setenv("NBSIM_THREADS", "x", 1);
  const ProgramOutcome again = here.run(second + 7, "--seed " + seed + " --threads 2 again");
  unsetenv("NBSIM_THREADS");
  ASSERT_EQ(again.exitStatus, 0) << again.errors;
  EXPECT_EQ(again.errors, "");
  EXPECT_EQ(here.read("again/result.txt"), here.read("first/result.txt"));
  EXPECT_EQ(maskClockLines(again.console), maskClockLines(first.console));
  EXPECT_EQ(recordedSeed(here.read("again/result.json")), seed);
  EXPECT_NE(here.read("again/result.json").find("\"seedClockSecond\": null"), std::string::npos);
  EXPECT_EQ(here.read("again/result.csv"), here.read("first/result.csv"));

  // The two runs on one plot, and a run that is not there.
  const std::string before = here.listing();
  const ProgramOutcome plot = here.run(-1, "--plot first again");
  EXPECT_EQ(plot.exitStatus, 0) << plot.errors;
  EXPECT_EQ(plot.console.rfind("<?xml", 0), 0u);
  EXPECT_EQ(plot.errors, "");
  const ProgramOutcome missing = here.run(-1, "--plot first nowhere");
  EXPECT_EQ(missing.exitStatus, exitPlotRuns);
  EXPECT_EQ(missing.console, "");
  EXPECT_EQ(std::count(missing.errors.begin(), missing.errors.end(), '\n'), 1) << missing.errors;
  EXPECT_EQ(here.listing(), before);
}

// Runs nbsim in `folder` on a new pseudo-terminal, as its foreground process or as a background
// job (a process group of its own, as a shell starts `nbsim &`), with nobody at the keyboard.
// Returns the exit status, or -1 when it stopped or did not end within 60 seconds.
int runOnTerminal(const ProgramFolder& folder, bool background, const char* argument) {
  int terminal = -1;
  const pid_t session = forkpty(&terminal, nullptr, nullptr, nullptr);
  if (session == 0) {
    const pid_t job = background ? fork() : 0;
    if (job == 0) {
      if (background) setpgid(0, 0);
      if (chdir(folder.path().c_str()) != 0) _exit(126);
      execl(NBSIM_BINARY, "nbsim", argument, static_cast<char*>(nullptr));
      _exit(127);
    }
    setpgid(job, job);
    int status = 0;
    // A job stopped by its terminal is reported here instead of waited for.
    waitpid(job, &status, WUNTRACED);
    _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 255);
  }
  // Read the terminal empty until the session ends (the read then fails).
  char buffer[4096];
  pollfd readable{terminal, POLLIN, 0};
  bool ended = false;
  while (!ended && poll(&readable, 1, 60000) > 0)
    ended = read(terminal, buffer, sizeof buffer) <= 0;
  if (!ended) kill(session, SIGKILL);
  close(terminal);
  int status = 0;
  waitpid(session, &status, 0);
  return ended && WIFEXITED(status) && WEXITSTATUS(status) != 255 ? WEXITSTATUS(status) : -1;
}

TEST(CommandLine, EndsWithoutAKeyInTheBackgroundOfItsTerminalOrWithNoWait) {
  FolderWithResults run;
  EXPECT_EQ(runOnTerminal(run.folder, true, nullptr), 0);
  EXPECT_EQ(runOnTerminal(run.folder, false, "--no-wait"), 0);
  EXPECT_NE(run.folder.read("result.txt"), earlierReport);
}

}  // namespace
}  // namespace nbsim::testing
