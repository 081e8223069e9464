// Replays every run of tests/golden, computed independently of this code, through the real
// binary with the clock pinned, and requires the report and the console byte for byte. Standard
// output and standard error go to files, as they do wherever no terminal watches.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "tests/run/program_runner.h"

namespace nbsim::testing {
namespace {

std::vector<std::string> goldenRuns() {
  std::vector<std::string> names;
  for (const auto& entry :
       std::filesystem::directory_iterator(std::string(NBSIM_SOURCE_DIR) + "/tests/golden")) {
    if (entry.is_directory()) names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

class GoldenRun : public ::testing::TestWithParam<std::string> {};

TEST_P(GoldenRun, ReproducesReportAndConsoleByteForByte) {
  const std::filesystem::path golden =
      std::filesystem::path(NBSIM_SOURCE_DIR) / "tests/golden" / GetParam();
  ProgramFolder folder;
  for (const char* input : {"param.txt", "encoder.txt"}) {
    if (std::filesystem::exists(golden / input)) folder.write(input, readFile(golden / input));
  }
  // A run that ends before the report must leave an earlier report untouched.
  const bool expectsReport = std::filesystem::exists(golden / "result.txt");
  const std::string earlierReport = "an earlier report\r\n";
  if (!expectsReport) folder.write("result.txt", earlierReport);

  const ProgramOutcome outcome = folder.run(std::stoll(readFile(golden / "clock")));

  EXPECT_EQ(maskClockLines(outcome.console), readFile(golden / "console.txt"));
  // The results beside the report come with it, or not at all.
  if (expectsReport) {
    EXPECT_EQ(outcome.exitStatus, 0) << outcome.errors;
    EXPECT_EQ(folder.read("result.txt"), readFile(golden / "result.txt"));
    // Standard error holds at most warnings about the inputs.
    std::istringstream lines(outcome.errors);
    for (std::string line; std::getline(lines, line);) {
      EXPECT_TRUE(line.rfind("nbsim: param.txt: ", 0) == 0 ||
                  line.rfind("nbsim: encoder.txt: ", 0) == 0)
          << line;
    }
    EXPECT_TRUE(folder.exists("result.csv"));
    EXPECT_TRUE(folder.exists("result.json"));
    EXPECT_TRUE(folder.exists("result.svg"));
  } else {
    EXPECT_NE(outcome.exitStatus, 0);
    EXPECT_EQ(folder.read("result.txt"), earlierReport);
    EXPECT_NE(outcome.errors, "");
    EXPECT_FALSE(folder.exists("result.csv"));
    EXPECT_FALSE(folder.exists("result.json"));
    EXPECT_FALSE(folder.exists("result.svg"));
  }
}

INSTANTIATE_TEST_SUITE_P(Golden, GoldenRun, ::testing::ValuesIn(goldenRuns()),
                         [](const auto& info) { return info.param; });

}  // namespace
}  // namespace nbsim::testing
