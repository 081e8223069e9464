// The whole run driven in-process with a fixed clock and a counted key: the sweep's points, the
// stopping rules, the report's frame, the timing lines and the failure to open the report.
#include "run/run_sequence.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/in_process_run.h"
#include "tests/support/input_files.h"

namespace nbsim {
namespace {

using testing::ProgramFolder;
using testing::runIn;

constexpr std::int64_t sunday = 1607236031;  // Sun Dec 06 06:27:11 2020 UTC

const std::string& exampleCode = testing::shortCode;

// Q = 4 and 3 iterations unless given.
std::string parameterFile(const std::string& first, const std::string& last,
                          const std::string& step, const std::string& volume,
                          const std::string& minBlockErr, int Q = 4, int itert = 3) {
  return testing::parameterFile(std::to_string(Q), first, last, step, volume, minBlockErr,
                                std::to_string(itert));
}

std::vector<std::string> linesStartingWith(const std::string& text, const std::string& prefix) {
  std::vector<std::string> found;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind(prefix, 0) == 0) found.push_back(line);
  }
  return found;
}

TEST(RunProgram, PrintsStartTimeElapsedTimeAndSpeedFromTheClock) {
  ProgramFolder folder;
  folder.write("param.txt", parameterFile("0.24", "0.24", "0.002", "700", "100"));
  folder.write("encoder.txt", exampleCode);
  const auto run = runIn(folder, {{sunday, 0}, {sunday, 5}, {sunday, 52}});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.keyPresses, 1);
  EXPECT_EQ(run.errors, "");
  const std::string expectedStart =
      "Modeling parameters\nQ=4\nvolume=700\nP0_low=0.24000\nP0_high=0.24000\n"
      "P0_step=0.00200\n\nStart time: Sun Dec 06 06:27:11.005\n";
  EXPECT_EQ(run.console.substr(0, expectedStart.size()), expectedStart);
  const std::string expectedEnd =
      "\nModeling time: 0.047 s\nModeling speed:  14.89 kbps\nstrike any key";
  ASSERT_GE(run.console.size(), expectedEnd.size());
  EXPECT_EQ(run.console.substr(run.console.size() - expectedEnd.size()), expectedEnd);
  // Windows-1251 from the first byte, CR LF at the end.
  EXPECT_EQ(run.report.substr(0, 4), "\xC8\xF1\xEF\xEE");
  EXPECT_EQ(run.report.substr(run.report.size() - 2), "\r\n");
}

TEST(RunProgram, BorrowsASecondWhenTheMillisecondsWrap) {
  ProgramFolder folder;
  folder.write("param.txt", parameterFile("0.1", "0.2", "0.002", "700", "100"));
  folder.write("encoder.txt", exampleCode);
  const auto run = runIn(folder, {{sunday, 0}, {sunday, 995}, {sunday + 12, 0}});
  EXPECT_EQ(linesStartingWith(run.console, "Modeling time: "),
            std::vector<std::string>{"Modeling time: 11.005 s"});
  // No point simulated: no symbol over a positive time.
  EXPECT_EQ(linesStartingWith(run.console, "Modeling speed: "),
            std::vector<std::string>{"Modeling speed:   0.00 kbps"});
}

TEST(Sweep, DefaultParametersVisit110PointsEndingJustAbove0_022) {
  ProgramFolder folder;
  // A volume of 0 simulates no block, so only the sweep itself is exercised.
  folder.write("param.txt", parameterFile("0.24", "0.02", "0.002", "0", "100", 256, 10));
  folder.write("encoder.txt", exampleCode);
  const auto run = runIn(folder, {{sunday, 0}});
  const auto points = linesStartingWith(run.console, "P0 is ");
  ASSERT_EQ(points.size(), 110u);
  EXPECT_EQ(points.front().substr(0, 15), "P0 is 2.40e-001");
  EXPECT_EQ(points.back().substr(0, 15), "P0 is 2.20e-002");
  // A point without blocks: SER 1/0 and FER 0/0.
  EXPECT_EQ(points.back(), "P0 is 2.20e-002     Decoder SER is    inf     Decoder FER is    nan");
  // Start time and zero elapsed time: the speed is 0 symbols over 0 seconds.
  EXPECT_EQ(linesStartingWith(run.console, "Modeling speed: "),
            std::vector<std::string>{"Modeling speed:    nan kbps"});
}

TEST(Sweep, EqualFirstAndLastGiveOnePointAndFirstBelowLastNone) {
  ProgramFolder folder;
  folder.write("encoder.txt", exampleCode);
  folder.write("param.txt", parameterFile("0.1", "0.1", "0.002", "70", "100"));
  EXPECT_EQ(linesStartingWith(runIn(folder, {{sunday, 0}}).console, "P0 is ").size(), 1u);

  folder.write("param.txt", parameterFile("0.01", "0.02", "0.002", "70", "100"));
  const auto none = runIn(folder, {{sunday, 0}});
  EXPECT_TRUE(linesStartingWith(none.console, "P0 is ").empty());
  const std::string codeEnd = testing::windows1251("Количество итераций декодирования: 3\n\n");
  ASSERT_GE(none.report.size(), codeEnd.size());
  EXPECT_EQ(none.report.substr(none.report.size() - codeEnd.size()), codeEnd);
}

TEST(SimulatePoint, StopsOnVolumeBeforeABlockAndOnBlockErrorsAfterIt) {
  ProgramFolder folder;
  folder.write("encoder.txt", exampleCode);
  // Volume 1: the test before the first block passes, so exactly one block of 7 symbols.
  folder.write("param.txt", parameterFile("0.3", "0.1", "0.1", "1", "100"));
  const auto one = runIn(folder, {{sunday, 0}});
  const std::string blocksLine = testing::windows1251("Количество переданных блоков = ");
  EXPECT_EQ(linesStartingWith(one.report, blocksLine + "1\r").size(), 3u);
  // Volume 8 needs two blocks of 7 symbols: the point may run past the volume.
  folder.write("param.txt", parameterFile("0.3", "0.3", "0.1", "8", "100"));
  EXPECT_EQ(linesStartingWith(runIn(folder, {{sunday, 0}}).report, blocksLine + "2\r").size(), 1u);
  // At P0 = 1 every block is wrong, so one block error ends the point after one block.
  folder.write("param.txt", parameterFile("1", "1", "0.1", "1000", "1"));
  EXPECT_EQ(linesStartingWith(runIn(folder, {{sunday, 0}}).report, blocksLine + "1\r").size(), 1u);
}

TEST(SimulatePoint, PointWithoutDecodedErrorReportsOneOverItsSymbols) {
  ProgramFolder folder;
  folder.write("encoder.txt", exampleCode);
  // P0 = 0: 700 symbols and no error, so the SER is 1 / 700.
  folder.write("param.txt", parameterFile("0", "0", "0.1", "700", "100"));
  const auto run = runIn(folder, {{sunday, 0}});
  EXPECT_EQ(linesStartingWith(run.console, "P0 is "),
            std::vector<std::string>{
                "P0 is 0.00e+000     Decoder SER is 1.43e-003     Decoder FER is 0.00e+000"});
}

TEST(RunProgram, RunsStartedInTheSameSecondGiveTheSameReport) {
  ProgramFolder folder;
  folder.write("encoder.txt", exampleCode);
  folder.write("param.txt", parameterFile("0.2", "0.1", "0.05", "2000", "20", 16));
  const std::string first = runIn(folder, {{sunday, 10}, {sunday, 20}, {sunday, 30}}).report;
  const std::string second = runIn(folder, {{sunday, 900}, {sunday, 910}, {sunday, 990}}).report;
  EXPECT_EQ(first, second);
  const std::string other = runIn(folder, {{sunday + 1, 0}}).report;
  EXPECT_NE(first, other);
}

TEST(RunProgram, ReportThatCannotBeOpenedEndsTheRunWithoutSimulating) {
  ProgramFolder folder;
  folder.write("encoder.txt", exampleCode);
  folder.write("param.txt", parameterFile("0.2", "0.1", "0.05", "2000", "20"));
  std::filesystem::create_directory(folder.path() / "result.txt");
  const auto run = runIn(folder, {{sunday, 0}});
  EXPECT_EQ(run.status, exitReportFile);
  EXPECT_EQ(run.console, "");
  EXPECT_NE(run.errors.find("result.txt: cannot be opened for writing: "), std::string::npos);
  EXPECT_EQ(std::count(run.errors.begin(), run.errors.end(), '\n'), 1);
  EXPECT_EQ(run.keyPresses, 0);
}

}  // namespace
}  // namespace nbsim
