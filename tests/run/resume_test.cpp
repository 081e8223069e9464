// nbsim --resume: a run interrupted anywhere (between points, or at any block of a point, with
// points done ahead of their turn as several threads leave them) and resumed on any number of
// threads ends with the report, the CSV and the plot of the run never interrupted; a run killed
// ten times in a row does too; and what cannot be resumed is refused with one line, touching
// nothing.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <thread>

#include "output/checkpoint.h"
#include "tests/engine/resume_point.h"
#include "tests/support/in_process_run.h"
#include "tests/support/input_files.h"

namespace nbsim::testing {
namespace {

// The files that a resumed run must give byte for byte.
std::string resultsOf(const ProgramFolder& folder) {
  return folder.read("result.txt") + "\n--\n" + folder.read("result.csv") + "\n--\n" +
         folder.read("result.svg");
}

// The console without its clock lines and without the line that a resumed run adds.
std::string consoleOf(const std::string& console) {
  std::string masked = maskClockLines(console);
  const std::size_t resumed = masked.find("Resumed after ");
  if (resumed != std::string::npos) masked.erase(resumed, masked.find('\n', resumed) + 1 - resumed);
  return masked;
}

Checkpoint checkpointIn(const ProgramFolder& folder) {
  Checkpoint checkpoint;
  std::string error;
  EXPECT_TRUE(readCheckpoint(folder.read("nbsim.checkpoint"), checkpoint, error)) << error;
  return checkpoint;
}

TEST(ResumedRun, GivesTheBytesOfTheRunNeverInterrupted) {
  std::mt19937_64 random(2026);
  const auto below = [&random](int n) { return static_cast<int>(random() % n); };
  const std::string codes[] = {exampleCode, shortCode,
                               "nk=2  nr=2\n  i=0  v=0  3  0 1 3\n  i=0  v=1  2  0 5\n"
                               "  i=1  v=0  2  0 2\n  i=1  v=1  3  0 4 6\n"};
  for (int n = 0; n < 4; ++n) {
    ProgramFolder folder;
    const int Q[] = {2, 16, 256, 257};
    const double step = 0.01 + 0.01 * below(3);
    const double first = 0.06 + 0.01 * below(15);
    folder.write("param.txt",
                 parameterFile(std::to_string(Q[below(4)]), std::to_string(first),
                               std::to_string(first - 5 * step), std::to_string(step),
                               std::to_string(2000 + below(20000)), std::to_string(3 + below(40)),
                               std::to_string(3 + below(8))));
    folder.write("encoder.txt", codes[n % 3]);
    const long long second = 1700000000 + n;
    SweepOptions options;
    const InProcessRun whole = runIn(folder, {{second, 0}}, options);
    ASSERT_EQ(whole.status, 0) << whole.errors;
    const std::string expected = resultsOf(folder);
    const Checkpoint done = checkpointIn(folder);
    ASSERT_TRUE(done.complete);
    const NonBinaryCodec codec(done.code, done.parameters.Q, done.parameters.itert);
    const PointLimits limits{done.parameters.volume, done.parameters.minBlockErr};
    const auto points = static_cast<std::int64_t>(done.points.size());
    const auto cutAfter = [&](std::int64_t point, std::int64_t blocks) {
      return stateAfter(codec, limits, done.runSeed, done.points.at(point).result.P0, blocks);
    };
    for (int cutCase = 0; cutCase < 4; ++cutCase) {
      // Points 0..j-1 done; point j between points, before its first block, before its last
      // block, or at any block.
      const std::int64_t j = static_cast<std::int64_t>(random() % points);
      const std::int64_t blocks = done.points.at(j).result.counters.blocks;
      Checkpoint cut = done;
      cut.complete = false;
      cut.points.clear();
      for (std::int64_t i = 0; i < j; ++i) cut.points[i] = done.points.at(i);
      if (cutCase > 0 && blocks > 0) {
        const std::int64_t k[] = {0, blocks - 1, static_cast<std::int64_t>(random() % blocks)};
        cut.points[j] = cutAfter(j, k[cutCase - 1]);
      }
      // As two threads leave a run: the next point done ahead of its turn, the one after it cut.
      if (below(2) == 0 && j + 2 < points) {
        cut.points[j + 1] = done.points.at(j + 1);
        cut.points[j + 2] = cutAfter(j + 2, done.points.at(j + 2).result.counters.blocks / 2);
      }
      folder.write("nbsim.checkpoint", checkpointText(cut));
      // A report cut short by the crash must not leak into the new one.
      folder.write("result.txt", "cut short");
      options.threads = 1 + below(2);
      SCOPED_TRACE("case " + std::to_string(n) + ", point " + std::to_string(j) + " of " +
                   std::to_string(points) + ", " + std::to_string(options.threads) + " threads");
      const InProcessRun resumed = runIn(folder, {{second + 99, 0}}, options, {}, true);
      ASSERT_EQ(resumed.status, 0) << resumed.errors;
      EXPECT_EQ(resultsOf(folder), expected);
      EXPECT_EQ(consoleOf(resumed.console), consoleOf(whole.console));
      EXPECT_NE(resumed.console.find("Resumed after " + std::to_string(j) + " point"),
                std::string::npos);
      EXPECT_TRUE(checkpointIn(folder).complete);
    }
  }
}

// Runs nbsim with `arguments` in `folder` and kills it with SIGKILL after `milliseconds`,
// unless it ends first.
void runAndKill(const ProgramFolder& folder, const std::vector<std::string>& arguments,
                int milliseconds) {
  const pid_t child = fork();
  if (child == 0) {
    if (chdir(folder.path().c_str()) != 0) _exit(126);
    std::vector<const char*> argv{"nbsim"};
    for (const std::string& argument : arguments) argv.push_back(argument.c_str());
    argv.push_back(nullptr);
    const int nowhere = open("/dev/null", O_RDWR);
    for (const int stream : {0, 1, 2}) dup2(nowhere, stream);
    execv(NBSIM_BINARY, const_cast<char* const*>(argv.data()));
    _exit(127);
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  int status = 0;
  while (waitpid(child, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() >= deadline) {
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

TEST(ResumedRun, EndsWithTheBytesOfTheRunNeverKilledAfterTenKills) {
  ProgramFolder reference;
  ProgramFolder killed;
  for (const ProgramFolder* folder : {&reference, &killed}) {
    folder->write("param.txt",
                  parameterFile("256", "0.2", "0.06", "0.02", "3000000", "100000", "10"));
    folder->write("encoder.txt", exampleCode);
  }
  const auto start = std::chrono::steady_clock::now();
  const ProgramOutcome whole = reference.run(-1, "--no-wait --seed 4242 --threads 2");
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start)
                        .count();
  ASSERT_EQ(whole.exitStatus, 0) << whole.errors;
  std::mt19937_64 random(4242);
  for (int kill = 0; kill < 10; ++kill) {
    const std::string threads = std::to_string(1 + random() % 2);
    // Before the first checkpoint there is nothing to resume: the run starts again.
    std::vector<std::string> arguments = killed.exists("nbsim.checkpoint")
                                             ? std::vector<std::string>{"--resume"}
                                             : std::vector<std::string>{"--seed", "4242"};
    arguments.insert(arguments.end(),
                     {"--no-wait", "--threads", threads, "--checkpoint-every", "0.02"});
    // Each sitting gets a tenth to a quarter of the whole run's time, and time enough to start
    // and keep a few states.
    runAndKill(killed, arguments,
               static_cast<int>(std::max<long long>(took / 10, 60) + random() % (took / 7 + 1)));
  }
  const ProgramOutcome last = killed.run(-1, "--no-wait --resume");
  ASSERT_EQ(last.exitStatus, 0) << last.errors;
  EXPECT_EQ(resultsOf(killed), resultsOf(reference));
  // Unless a run between the kills completed, the last one shows every point as the run never
  // killed does.
  if (last.console.rfind("The run in this folder is complete", 0) != 0) {
    EXPECT_EQ(consoleOf(last.console), consoleOf(whole.console));
  }
}

TEST(ResumedRun, IsRefusedWithOneLineWhenItCannotGoOnAndTouchesNothing) {
  ProgramFolder folder;
  folder.write("param.txt", parameterFile("16", "0.1", "0.08", "0.01", "3000", "10", "5"));
  folder.write("encoder.txt", shortCode);
  EXPECT_EQ(folder.run(-1, "--no-wait --resume").exitStatus, exitNoCheckpoint);
  ASSERT_EQ(folder.run(-1, "--no-wait --seed 9").exitStatus, 0);
  const std::string checkpoint = folder.read("nbsim.checkpoint");
  Checkpoint cut = checkpointIn(folder);
  cut.complete = false;
  cut.points.erase(1);
  const std::string cutText = checkpointText(cut);
  std::string damaged = cutText;
  damaged[damaged.size() / 2] ^= 1;
  // Whole, but with counts that no run gives: a block more than the counts of its symbols.
  Checkpoint unfit = cut;
  ++unfit.points.at(0).result.counters.blocks;
  const struct {
    const char* what;
    std::string file;
    std::string text;
    int status;
  } refusals[] = {
      {"param.txt", "param.txt", parameterFile("16", "0.1", "0.07", "0.01", "3000", "10", "5"),
       exitInputsChanged},
      {"encoder.txt", "encoder.txt", exampleCode, exitInputsChanged},
      {"cut short", "nbsim.checkpoint", cutText.substr(0, cutText.size() / 3),
       exitCheckpointUnreadable},
      {"damaged", "nbsim.checkpoint", damaged, exitCheckpointUnreadable},
      {"another version", "nbsim.checkpoint", "{\"format\": 2, \"program\": \"nbsim 9.0\"}",
       exitCheckpointUnreadable},
      {"unfit", "nbsim.checkpoint", checkpointText(unfit), exitCheckpointUnreadable},
  };
  for (const auto& refusal : refusals) {
    SCOPED_TRACE(refusal.what);
    folder.write("nbsim.checkpoint", cutText);
    const std::string original = folder.read(refusal.file);
    folder.write(refusal.file, refusal.text);
    const std::string before = folder.listing() + resultsOf(folder) + folder.read("result.json");
    const ProgramOutcome outcome = folder.run(-1, "--no-wait --resume");
    EXPECT_EQ(outcome.exitStatus, refusal.status);
    EXPECT_EQ(outcome.console, "");
    EXPECT_EQ(std::count(outcome.errors.begin(), outcome.errors.end(), '\n'), 1) << outcome.errors;
    EXPECT_NE(outcome.errors.find(refusal.what == std::string("param.txt") ||
                                          refusal.what == std::string("encoder.txt")
                                      ? refusal.what
                                      : "nbsim.checkpoint"),
              std::string::npos)
        << outcome.errors;
    EXPECT_EQ(folder.listing() + resultsOf(folder) + folder.read("result.json"), before);
    folder.write(refusal.file, original);
  }
  // A complete run says so and changes nothing.
  folder.write("nbsim.checkpoint", checkpoint);
  const std::string before = folder.listing() + resultsOf(folder) + checkpoint;
  const ProgramOutcome complete = folder.run(-1, "--no-wait --resume");
  EXPECT_EQ(complete.exitStatus, 0);
  EXPECT_EQ(complete.console, "The run in this folder is complete: nothing to resume\n");
  EXPECT_EQ(folder.listing() + resultsOf(folder) + folder.read("nbsim.checkpoint"), before);
  EXPECT_EQ(folder.run(-1, "--resume --seed 3").exitStatus, exitUsage);
}

}  // namespace
}  // namespace nbsim::testing
