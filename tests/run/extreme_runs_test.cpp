// Extreme but valid runs: the smallest and largest alphabets, the longest code, clamped
// iteration counts, volumes of 1 and 4294967295, P0 outside 0..1 and values that %f reads as not
// a number or infinite. Each must end, and the plain path and the fast path on one and on two
// threads must give the same report and console, byte for byte.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "tests/support/in_process_run.h"
#include "tests/support/input_files.h"

namespace nbsim::testing {
namespace {

constexpr std::int64_t second = 1607236031;

struct ExtremeRun {
  const char* name;
  std::string parameters;
  std::string code;
  int status;
};

void PrintTo(const ExtremeRun& run, std::ostream* os) { *os << run.name; }

const std::string& golombCode = exampleCode;

// nk = nr = 4, sixteen polynomials of eight taps, the last one with a ninth tap of 999: L = 1999.
std::string longestCode() {
  std::ostringstream text;
  text << "nk=4  nr=4\n";
  for (int i = 0; i < 4; ++i) {
    for (int v = 0; v < 4; ++v) {
      const bool last = i == 3 && v == 3;
      text << "  i=" << i << "  v=" << v << (last ? "  9 " : "  8 ");
      for (int n = 0; n < 8; ++n) text << ' ' << (i * 131 + v * 37 + n * 113) % 999;
      text << (last ? " 999\n" : "\n");
    }
  }
  return text.str();
}

class Extreme : public ::testing::TestWithParam<ExtremeRun> {};

TEST_P(Extreme, EndsAndGivesTheSameBytesOnEveryPath) {
  const ExtremeRun& run = GetParam();
  ProgramFolder folder;
  folder.write("param.txt", run.parameters);
  folder.write("encoder.txt", run.code);
  SweepOptions plain;
  plain.fast = false;
  const InProcessRun reference = runIn(folder, {{second, 0}}, plain);
  EXPECT_EQ(reference.status, run.status) << reference.errors;
  for (const std::int32_t threads : {1, 2}) {
    SweepOptions fast;
    fast.threads = threads;
    const InProcessRun other = runIn(folder, {{second, 0}}, fast);
    EXPECT_EQ(other.status, reference.status);
    EXPECT_EQ(other.report, reference.report) << threads << " threads";
    EXPECT_EQ(other.console, reference.console) << threads << " threads";
    EXPECT_EQ(other.errors, reference.errors);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Runs, Extreme,
    ::testing::Values(
        ExtremeRun{"Q2", parameterFile("2", "0.3", "0.01", "0.07", "3000", "20", "10"), golombCode,
                   0},
        ExtremeRun{"Q3", parameterFile("3", "0.3", "0.01", "0.07", "3000", "20", "10"), golombCode,
                   0},
        ExtremeRun{"LargestQ",
                   parameterFile("2147483647", "0.5", "0.05", "0.15", "3000", "20", "10"),
                   golombCode, 0},
        ExtremeRun{"LongestCode", parameterFile("256", "0.2", "0.01", "0.09", "20000", "5", "10"),
                   longestCode(), 0},
        ExtremeRun{"IterationsBelowTheRange",
                   parameterFile("16", "0.2", "0.1", "0.05", "2000", "20", "-5"), golombCode, 0},
        ExtremeRun{"IterationsAboveTheRange",
                   parameterFile("16", "0.2", "0.1", "0.05", "2000", "20", "1000"), golombCode, 0},
        ExtremeRun{"VolumeOne", parameterFile("256", "0.3", "0.1", "0.1", "1", "100", "10"),
                   golombCode, 0},
        ExtremeRun{"VolumeMinusOne", parameterFile("256", "0.4", "0.3", "0.1", "-1", "3", "10"),
                   golombCode, 0},
        ExtremeRun{"P0OutsideZeroToOne",
                   parameterFile("256", "1.5", "-0.6", "0.7", "500", "100", "10"), golombCode, 0},
        ExtremeRun{"NotANumberFirst", parameterFile("256", "nan", "0.1", "0.05", "500", "10", "3"),
                   golombCode, 0},
        ExtremeRun{"NotANumberStep", parameterFile("256", "0.2", "0.1", "nan", "500", "10", "3"),
                   golombCode, 0},
        ExtremeRun{"InfiniteStep", parameterFile("256", "0.2", "0.1", "inf", "500", "10", "3"),
                   golombCode, 0},
        ExtremeRun{"InfiniteFirst", parameterFile("256", "inf", "0.1", "0.05", "500", "10", "3"),
                   golombCode, 1},
        ExtremeRun{"MinusInfiniteLast",
                   parameterFile("256", "0.2", "-inf", "0.05", "500", "10", "3"), golombCode, 1}),
    [](const ::testing::TestParamInfo<ExtremeRun>& info) { return info.param.name; });

}  // namespace
}  // namespace nbsim::testing
