// nbsim-mpi on 1, 2 and 3 ranks against the plain program with the same seed: the golden inputs
// and random ones give the same report, CSV, plot, console (but for the clock lines) and status.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "tests/run/program_runner.h"
#include "tests/support/input_files.h"

namespace nbsim::testing {
namespace {

// The inputs of one comparison: a golden run's, or random ones.
std::vector<std::pair<std::string, std::string>> cases() {
  std::vector<std::pair<std::string, std::string>> inputs;
  for (const auto& entry :
       std::filesystem::directory_iterator(std::string(NBSIM_SOURCE_DIR) + "/tests/golden")) {
    if (!entry.is_directory()) continue;
    inputs.emplace_back(readFile(entry.path() / "param.txt"),
                        readFile(entry.path() / "encoder.txt"));
  }
  std::sort(inputs.begin(), inputs.end());
  std::mt19937 random(2026);
  for (int n = 0; n < 3; ++n) {
    const int Q = std::uniform_int_distribution<int>(2, 300)(random);
    const double first = std::uniform_real_distribution<double>(0.05, 0.3)(random);
    inputs.emplace_back(parameterFile(std::to_string(Q), std::to_string(first),
                                      std::to_string(first / 3), "0.01", "20000", "40", "5"),
                        n == 0 ? exampleCode : "nk=2 nr=1 i=0 v=0 3 0 2 7 i=1 v=0 2 1 5");
  }
  return inputs;
}

class MpiRuns : public ::testing::TestWithParam<std::size_t> {};

TEST_P(MpiRuns, GiveThePlainProgramsBytesOnAnyNumberOfRanks) {
#ifndef NBSIM_MPI_BINARY
  GTEST_SKIP() << "nbsim-mpi is not built here (no MPI found, or a sanitizer build)";
#else
  const std::string mpirun =
      "OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1 "
      "OMPI_MCA_rmaps_base_oversubscribe=1 mpirun -np ";
  {
    const auto [parameters, code] = cases().at(GetParam());
    ProgramFolder plain;
    plain.write("param.txt", parameters);
    plain.write("encoder.txt", code);
    const ProgramOutcome expected = plain.run(-1, "--no-wait --seed 4242 --threads 2");
    for (const int ranks : {1, 2, 3}) {
      ProgramFolder folder;
      folder.write("param.txt", parameters);
      folder.write("encoder.txt", code);
      const ProgramOutcome outcome =
          folder.run(-1, "--no-wait --seed 4242 --threads 1",
                     mpirun + std::to_string(ranks) + " '" NBSIM_MPI_BINARY "'");
      SCOPED_TRACE(parameters + code + " on " + std::to_string(ranks) + " ranks");
      EXPECT_EQ(outcome.exitStatus, expected.exitStatus) << outcome.errors;
      EXPECT_EQ(maskClockLines(outcome.console), maskClockLines(expected.console));
      // mpirun adds its own words on a rank that ends with a status other than 0.
      EXPECT_EQ(outcome.errors.substr(0, expected.errors.size()), expected.errors);
      for (const char* file : {"result.txt", "result.csv", "result.svg"}) {
        EXPECT_EQ(folder.read(file), plain.read(file)) << file;
      }
    }
  }
#endif
}

INSTANTIATE_TEST_SUITE_P(GoldenAndRandomInputs, MpiRuns,
                         ::testing::Range<std::size_t>(0, cases().size()));

}  // namespace
}  // namespace nbsim::testing
