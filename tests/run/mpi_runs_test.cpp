// nbsim-mpi on 1, 2 and 3 ranks against the plain program with the same seed: the golden inputs
// and random ones give the same report, CSV, plot, console (but for the clock lines) and status,
// also where the last points are shared in stretches by several threads.
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
  // Every draw at or below the corruption bound: no stretch of a shared point has a draw that
  // tells where a symbol starts.
  inputs.emplace_back(parameterFile("16", "1", "0.9", "0.1", "30000", "300", "3"), shortCode);
  // Two long points: the thread that ends the first one takes over part of the second.
  inputs.emplace_back(parameterFile("16", "0.03", "0.02", "0.01", "3000000", "1000000", "3"),
                      shortCode);
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
    // Points shared by the threads of the other ranks, in stretches of a few thousand draws:
    // many stretches to a point, and points that end inside one. Shared from their first
    // block, or (on three ranks of one thread) only when a thread has nothing else to do.
    const std::string stretches =
        "NBSIM_STRETCH_DRAWS=" + std::to_string(1000 + 3517 * GetParam() % 9000) + " ";
    for (const auto& [ranks, threads] : {std::pair{1, 1}, {2, 2}, {3, 1}, {3, 2}}) {
      const std::string shareAll = threads == 2 ? "NBSIM_SHARE_ALL=1 " : "";
      ProgramFolder folder;
      folder.write("param.txt", parameters);
      folder.write("encoder.txt", code);
      const ProgramOutcome outcome = folder.run(
          -1, "--no-wait --seed 4242 --threads " + std::to_string(threads),
          shareAll + stretches + mpirun + std::to_string(ranks) + " '" NBSIM_MPI_BINARY "'");
      SCOPED_TRACE(parameters + code + " on " + std::to_string(ranks) + " ranks, " + shareAll +
                   stretches);
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
