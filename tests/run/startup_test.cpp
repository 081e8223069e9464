// Start-up through the real binary: every early end prints one line on standard error, nothing
// on standard output (but the tap-range message), exits with its status and leaves an earlier
// report untouched; a good start-up replaces it.
#include <gtest/gtest.h>

#include <string>

#include "run/run_sequence.h"
#include "tests/run/program_runner.h"
#include "tests/support/input_files.h"

namespace nbsim::testing {
namespace {

const std::string goodParameters =
    "Q=16\nP0_first=0.1\nP0_last=0.1\nP0_step=0.002\nvolume=100\nminBlockErr=10\nitert=3\n";
const std::string& goodCode = shortCode;
const std::string earlierReport = "an earlier report\r\n";

struct EarlyEnd {
  const char* name;
  const char* parameters;  // nullptr: no file
  const char* code;        // nullptr: no file
  int status;
  const char* errorPart;  // expected within the line on standard error
};

void PrintTo(const EarlyEnd& c, std::ostream* os) { *os << c.name; }

class StartUpFailure : public ::testing::TestWithParam<EarlyEnd> {};

TEST_P(StartUpFailure, EndsWithItsStatusAndLeavesTheReportAlone) {
  const EarlyEnd& c = GetParam();
  ProgramFolder folder;
  if (c.parameters) folder.write("param.txt", c.parameters);
  if (c.code) folder.write("encoder.txt", c.code);
  folder.write("result.txt", earlierReport);
  const ProgramOutcome outcome = folder.run();
  EXPECT_EQ(outcome.exitStatus, c.status);
  EXPECT_EQ(outcome.console, "");
  EXPECT_EQ(outcome.errors.rfind("nbsim: ", 0), 0u) << outcome.errors;
  EXPECT_NE(outcome.errors.find(c.errorPart), std::string::npos) << outcome.errors;
  EXPECT_EQ(std::count(outcome.errors.begin(), outcome.errors.end(), '\n'), 1) << outcome.errors;
  EXPECT_EQ(folder.read("result.txt"), earlierReport);
}

const char* const parameters = goodParameters.c_str();
const char* const code = goodCode.c_str();

INSTANTIATE_TEST_SUITE_P(
    EarlyEnds, StartUpFailure,
    ::testing::Values(
        EarlyEnd{"NoParameterFile", nullptr, code, exitParameterFile,
                 "param.txt: cannot be opened"},
        EarlyEnd{"EmptyParameterFile", "", code, exitParameterFile, "param.txt"},
        EarlyEnd{"ShortParameterFile", "Q=16\nP0_first=0.1\n", code, exitParameterFile,
                 "param.txt"},
        EarlyEnd{"AlphabetBelowTwo",
                 "Q=1\nP0_first=0.1\nP0_last=0.1\nP0_step=0.002\nvolume=100\nminBlockErr=10\n",
                 code, exitParameterFile, "Q=1"},
        EarlyEnd{"EndlessSweep",
                 "Q=4\nP0_first=0.2\nP0_last=0.1\nP0_step=0\nvolume=100\nminBlockErr=10\n", code,
                 exitParameterFile, "P0_step"},
        EarlyEnd{"NoCodeFile", parameters, nullptr, exitCodeFile, "encoder.txt: cannot be opened"},
        EarlyEnd{"BlankBeforeNk", parameters, " nk=1 nr=1 i=0 v=0 1 0", exitCodeFile, "\"nk=\""},
        EarlyEnd{"BlankBeforeEquals", parameters, "nk =1 nr=1 i=0 v=0 1 0", exitCodeFile,
                 "\"nk=\""},
        EarlyEnd{"TooFewPolynomials", parameters, "nk=1 nr=2 i=0 v=0 1 0", exitCodeFile, "\"i=\""},
        EarlyEnd{"NegativeTap", parameters, "nk=1 nr=1 i=0 v=0 2 0 -3", exitCodeFile,
                 "tap -3 in polynomial i=0 v=0 is negative"},
        EarlyEnd{"TooManyBranches", parameters, "nk=41 nr=1", exitCodeFile, "nk=41"},
        EarlyEnd{"NoCheckBranch", parameters, "nk=1 nr=0", exitCodeFile, "nr=0"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(StartUp, FoldersInPlaceOfTheInputFilesCannotBeRead) {
  ProgramFolder folder;
  std::filesystem::create_directory(folder.path() / "param.txt");
  folder.write("encoder.txt", goodCode);
  ProgramOutcome outcome = folder.run();
  EXPECT_EQ(outcome.exitStatus, exitParameterFile);
  EXPECT_NE(outcome.errors.find("param.txt: cannot be read"), std::string::npos) << outcome.errors;

  std::filesystem::remove(folder.path() / "param.txt");
  folder.write("param.txt", goodParameters);
  std::filesystem::remove(folder.path() / "encoder.txt");
  std::filesystem::create_directory(folder.path() / "encoder.txt");
  outcome = folder.run();
  EXPECT_EQ(outcome.exitStatus, exitCodeFile);
  EXPECT_NE(outcome.errors.find("encoder.txt: cannot be read"), std::string::npos)
      << outcome.errors;
  EXPECT_FALSE(folder.exists("result.txt"));
}

TEST(StartUp, UnresolvableCodeFileLinkIsReportedNotACrash) {
  ProgramFolder folder;
  folder.write("param.txt", goodParameters);
  std::filesystem::create_symlink("encoder.txt", folder.path() / "encoder.txt");
  const ProgramOutcome outcome = folder.run();
  EXPECT_EQ(outcome.exitStatus, exitCodeFile);
  EXPECT_EQ(outcome.errors.rfind("nbsim: ", 0), 0u) << outcome.errors;
  EXPECT_NE(outcome.errors.find("encoder.txt: cannot be opened"), std::string::npos)
      << outcome.errors;
}

TEST(StartUp, TapOfAThousandPrintsItsMessageAndWaitsForAKey) {
  ProgramFolder folder;
  folder.write("param.txt", goodParameters);
  folder.write("encoder.txt", "nk=1 nr=2 i=0 v=0 2 0 1000 i=0 v=1 1 2000");
  folder.write("result.txt", earlierReport);
  const ProgramOutcome outcome = folder.run();
  EXPECT_EQ(outcome.exitStatus, exitCodeFile);
  EXPECT_EQ(outcome.console,
            "One check position is more or equal 1000 in encoder.txt \n"
            "Corect it and try again please\nPress any key");
  EXPECT_NE(outcome.errors.find("tap 1000"), std::string::npos);
  EXPECT_EQ(folder.read("result.txt"), earlierReport);
}

TEST(StartUp, GoodInputsReplaceTheReportAndEndAfterTheKey) {
  ProgramFolder folder;
  folder.write("param.txt", goodParameters);
  folder.write("encoder.txt", goodCode);
  folder.write("result.txt", earlierReport);
  const ProgramOutcome outcome = folder.run();
  EXPECT_EQ(outcome.exitStatus, exitSuccess);
  EXPECT_EQ(outcome.errors, "");
  EXPECT_NE(folder.read("result.txt"), earlierReport);
  const std::string prompt = "strike any key";
  EXPECT_EQ(outcome.console.substr(outcome.console.size() - prompt.size()), prompt);
}

}  // namespace
}  // namespace nbsim::testing
