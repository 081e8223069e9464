// The real binary in the hands of a careless user or a batch system: closed standard streams,
// two runs in one folder, a small address space, endless inputs, a closed pipe, a signal during
// a blocking open or at the key wait, a report that fails before the CSV would replace an
// earlier one. Each run must end with its status and one failure line, and leave result.txt and
// result.csv holding exactly the completed points.
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "run/run_environment.h"
#include "tests/run/program_runner.h"
#include "tests/support/input_files.h"

namespace nbsim::testing {
namespace {

// A short sweep of the bundled code: 15 points, every one with blocks.
const std::string shortSweep = parameterFile("16", "0.2", "0.05", "0.01", "3000", "20", "3");

// The program started from a shell script in `folder`: `before` stands before the program's
// name (settings), `after` after it (redirections and what follows). With `pinned` the clock
// stands at a fixed second; without, signals reach the program itself. Returns the exit status.
int runShell(const ProgramFolder& folder, const std::string& before, const std::string& after,
             bool pinned = true) {
  const std::string clock = pinned ? " TZ=UTC ASAN_OPTIONS=verify_asan_link_order=0 faketime -f "
                                     "'@2020-12-06 06:27:11'"
                                   : "";
  folder.write("run.sh", before + clock + " '" NBSIM_BINARY "' " + after + "\n");
  const std::string command = "cd '" + folder.path().string() + "' && bash run.sh";
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A folder with the short sweep and the bundled code.
void prepare(const ProgramFolder& folder) {
  folder.write("param.txt", shortSweep);
  folder.write("encoder.txt", exampleCode);
}

// What a normal run of the short sweep leaves.
struct Normal {
  std::string report;
  std::string csv;
};

const Normal& normalRun() {
  static const Normal normal = [] {
    ProgramFolder folder;
    prepare(folder);
    EXPECT_EQ(runShell(folder, "", "</dev/null >/dev/null 2>&1"), 0);
    return Normal{folder.read("result.txt"), folder.read("result.csv")};
  }();
  return normal;
}

TEST(HostileEnvironment, ClosedStandardStreamsNeverReachTheResults) {
  for (const char* streams : {"</dev/null >&- 2>errors", "<&- >&- 2>&-", "<&- >out 2>&-"}) {
    SCOPED_TRACE(streams);
    ProgramFolder folder;
    prepare(folder);
    EXPECT_EQ(runShell(folder, "", streams), 0);
    EXPECT_EQ(folder.read("result.txt"), normalRun().report);
    EXPECT_EQ(folder.read("result.csv"), normalRun().csv);
    EXPECT_EQ(folder.read("errors"), "");
  }
}

TEST(HostileEnvironment, ASecondRunInTheSameFolderTouchesNothing) {
  ProgramFolder folder;
  folder.write("param.txt",
               parameterFile("256", "0.1", "0.001", "0.0001", "1000000", "1000000", "10"));
  folder.write("encoder.txt", exampleCode);
  // The first run holds the folder until its interrupt; the second starts meanwhile.
  const int second = runShell(
      folder,
      "NBSIM_THREADS=1 '" NBSIM_BINARY "' </dev/null >/dev/null 2>first & first=$!; "
      "for n in $(seq 400); do grep -q -a 'P0=' result.txt 2>/dev/null && break; sleep 0.05; "
      "done; cp result.csv csv.before;",
      "</dev/null >second.out 2>second.err; status=$?; kill -INT $first; wait $first; "
      "exit $status");
  EXPECT_EQ(second, exitFolderInUse);
  const std::string errors = folder.read("second.err");
  EXPECT_EQ(errors.rfind("nbsim: another run is writing its results in this folder", 0), 0u)
      << errors;
  EXPECT_EQ(folder.read("second.out"), "");
  // The first run's files hold its own points, each CSV row whole.
  const std::string report = folder.read("result.txt");
  const std::string csv = folder.read("result.csv");
  std::size_t points = 0;
  for (std::size_t at = report.find("P0="); at != std::string::npos;
       at = report.find("P0=", at + 1)) {
    ++points;
  }
  std::size_t rows = 0;
  for (std::size_t at = csv.find("\r\n0."); at != std::string::npos;
       at = csv.find("\r\n0.", at + 1)) {
    ++rows;
  }
  EXPECT_GE(points, 1u);
  EXPECT_EQ(rows, points);
  EXPECT_EQ(csv.substr(csv.size() - 2), "\r\n");
}

TEST(HostileEnvironment, ManyThreadsInASmallAddressSpaceGiveTheSameResults) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "a sanitizer reserves more address space than the limit";
#else
  ProgramFolder folder;
  prepare(folder);
  EXPECT_EQ(runShell(folder, "ulimit -v 60000; NBSIM_THREADS=8", "</dev/null >/dev/null 2>errors"),
            0);
  EXPECT_EQ(folder.read("errors"), "");
  EXPECT_EQ(folder.read("result.txt"), normalRun().report);
#endif
}

TEST(HostileEnvironment, EndlessInputsAreRefusedWithoutTouchingTheReport) {
  for (const char* input : {"param.txt", "encoder.txt"}) {
    SCOPED_TRACE(input);
    ProgramFolder folder;
    prepare(folder);
    folder.write("result.txt", "earlier");
    std::filesystem::remove(folder.path() / input);
    std::filesystem::create_symlink("/dev/zero", folder.path() / input);
    const int status = runShell(folder, "", "</dev/null >out 2>errors");
    EXPECT_EQ(status, std::string(input) == "param.txt" ? exitParameterFile : exitCodeFile);
    EXPECT_EQ(folder.read("errors"), "nbsim: " + std::string(input) +
                                         ": cannot be read: it is larger than 1048576 bytes, far "
                                         "more than an input file of the program holds\n");
    EXPECT_EQ(folder.read("result.txt"), "earlier");
  }
}

TEST(HostileEnvironment, AClosedPipeLosesTheConsoleButNotTheResults) {
  // A thousand points: more console than a pipe holds, so that the program still writes once
  // the reader has gone, however fast it runs.
  const std::string manyPoints = parameterFile("16", "0.5", "0.0005", "0.0005", "7", "1", "3");
  ProgramFolder normal;
  ProgramFolder folder;
  for (const ProgramFolder* f : {&normal, &folder}) {
    f->write("param.txt", manyPoints);
    f->write("encoder.txt", exampleCode);
  }
  ASSERT_EQ(runShell(normal, "", "</dev/null >/dev/null 2>&1"), 0);
  const int status =
      runShell(folder, "set -o pipefail;", "</dev/null 2>errors | head -c 10 >/dev/null");
  EXPECT_EQ(status, exitResultsFile);
  EXPECT_EQ(folder.read("errors"),
            "nbsim: standard output cannot be written; the run goes on without the console\n");
  EXPECT_EQ(folder.read("result.txt"), normal.read("result.txt"));
  EXPECT_EQ(folder.read("result.csv"), normal.read("result.csv"));
  EXPECT_TRUE(folder.exists("result.svg"));
}

TEST(HostileEnvironment, ASignalEndsABlockingOpenAndTheKeyWaitKeepsACompleteRunsStatus) {
  ProgramFolder folder;
  prepare(folder);
  std::filesystem::remove(folder.path() / "param.txt");
  const int opening = runShell(folder, "mkfifo param.txt;",
                               "</dev/null >out 2>errors & pid=$!; sleep 0.3; kill -INT $pid; "
                               "wait $pid",
                               false);
  EXPECT_EQ(opening, 130);
  EXPECT_EQ(folder.read("errors"), "nbsim: interrupted by SIGINT; result.txt was not touched\n");
  EXPECT_FALSE(folder.exists("result.txt"));

  std::filesystem::remove(folder.path() / "param.txt");
  folder.write("param.txt", shortSweep);
  // Standard input stays open and silent (the shell holds the FIFO's other end) while the
  // program waits for the key.
  const int waiting =
      runShell(folder, "mkfifo keys; exec 3<>keys;",
               "<keys >out 2>errors & pid=$!; for n in $(seq 400); do "
               "grep -q 'strike any key' out && break; sleep 0.05; done; kill -INT $pid; "
               "wait $pid",
               false);
  EXPECT_EQ(waiting, 0);
  EXPECT_EQ(folder.read("errors"), "");
  EXPECT_EQ(folder.read("out").substr(folder.read("out").size() - 14), "strike any key");
}

TEST(HostileEnvironment, AReportThatFailsAtOnceLeavesTheEarlierCsv) {
  ProgramFolder folder;
  prepare(folder);
  folder.write("result.csv", "an earlier CSV\r\n");
  std::filesystem::create_symlink("/dev/full", folder.path() / "result.txt");
  EXPECT_EQ(runShell(folder, "", "</dev/null >/dev/null 2>errors"), exitReportFile);
  EXPECT_EQ(folder.read("errors"), "nbsim: result.txt: cannot be written: No space left on device\n");
  EXPECT_EQ(folder.read("result.csv"), "an earlier CSV\r\n");
  // No temporary file is left behind.
  for (const auto& entry : std::filesystem::directory_iterator(folder.path())) {
    EXPECT_EQ(entry.path().filename().string().find("result.csv."), std::string::npos)
        << entry.path();
  }
}

}  // namespace
}  // namespace nbsim::testing
