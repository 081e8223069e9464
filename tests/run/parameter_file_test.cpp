// Reading "param.txt": defaults, keys matched in place, line consumption, early ends, the itert
// clamp, the 32-bit volume, and the refusal of parameters that no run can use.
#include "run/parameter_file.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

namespace nbsim {
namespace {

ParameterFileResult readText(std::string text) {
  std::FILE* file = fmemopen(text.data(), text.size(), "r");
  if (text.empty()) file = std::fopen("/dev/null", "r");  // fmemopen refuses a zero size
  ParameterFileResult result = readParameterFile(file, "param.txt");
  std::fclose(file);
  return result;
}

std::string fileWith(const std::string& itert, const std::string& volume = "volume=1000000\n") {
  return "Q=64\nP0_first=0.1\nP0_last=0.05\nP0_step=0.01\n" + volume + "minBlockErr=7\n" + itert;
}

TEST(ReadParameterFile, ReadsEveryValueOfACompleteFile) {
  const auto result = readText(fileWith("itert=7\n", "volume=5000\n"));
  ASSERT_TRUE(result.parameters);
  const RunParameters& p = *result.parameters;
  EXPECT_EQ(p.Q, 64);
  EXPECT_EQ(p.P0_first, 0.1f);
  EXPECT_EQ(p.P0_last, 0.05f);
  EXPECT_EQ(p.P0_step, 0.01f);
  EXPECT_EQ(p.volume, 5000u);
  EXPECT_EQ(p.minBlockErr, 7);
  EXPECT_EQ(p.itert, 7);
}

TEST(ReadParameterFile, SeventhLineMayEndWithoutLineFeed) {
  const auto result = readText(fileWith("itert=5"));
  ASSERT_TRUE(result.parameters);
  EXPECT_EQ(result.parameters->itert, 5);
}

TEST(ReadParameterFile, EndsEarlyOnEmptyOrShortFiles) {
  EXPECT_FALSE(readText("").parameters);
  EXPECT_FALSE(readText("Q=4\nP0_first=0.1\n").parameters);
  // Six values but no line end after the sixth.
  const auto result =
      readText("Q=4\nP0_first=0.1\nP0_last=0.1\nP0_step=0.1\nvolume=1\nminBlockErr=1");
  EXPECT_FALSE(result.parameters);
  EXPECT_NE(result.error.find("param.txt"), std::string::npos);
  // Six complete lines are enough: itert keeps its default.
  const auto six =
      readText("Q=4\nP0_first=0.1\nP0_last=0.1\nP0_step=0.1\nvolume=1\nminBlockErr=1\n");
  ASSERT_TRUE(six.parameters);
  EXPECT_EQ(six.parameters->itert, 10);
}

TEST(ReadParameterFile, UnmatchedKeyKeepsItsDefaultAndTheRestIsStillRead) {
  const auto lower = readText(
      "q=64\nP0_first=0.1\nP0_last=0.05\nP0_step=0.01\nvolume=9\n"
      "minBlockErr=7\nitert=4\n");
  ASSERT_TRUE(lower.parameters);
  EXPECT_EQ(lower.parameters->Q, 256);
  EXPECT_EQ(lower.parameters->volume, 9u);
  EXPECT_EQ(lower.parameters->itert, 4);
  // No blank is skipped before a key.
  const auto blank = readText(
      " Q=64\nP0_first=0.1\nP0_last=0.05\nP0_step=0.01\nvolume=9\n"
      "minBlockErr=7\nitert=4\n");
  ASSERT_TRUE(blank.parameters);
  EXPECT_EQ(blank.parameters->Q, 256);
  // Text after the value is ignored.
  const auto trailing = readText(
      "Q=64 bits\nP0_first=0.1\nP0_last=0.05\nP0_step=0.01\nvolume=9\n"
      "minBlockErr=7 blocks\nitert=4\n");
  ASSERT_TRUE(trailing.parameters);
  EXPECT_EQ(trailing.parameters->Q, 64);
  EXPECT_EQ(trailing.parameters->minBlockErr, 7);
}

TEST(ReadParameterFile, ClampsIterationsToThreeThroughTen) {
  EXPECT_EQ(readText(fileWith("itert=1\n")).parameters->itert, 3);
  EXPECT_EQ(readText(fileWith("itert=-5\n")).parameters->itert, 3);
  EXPECT_EQ(readText(fileWith("itert=25\n")).parameters->itert, 10);
  EXPECT_EQ(readText(fileWith("itert=7\n")).parameters->itert, 7);
}

TEST(ReadParameterFile, VolumeFillsTheLow32BitsOnly) {
  const auto minusOne = readText(fileWith("itert=3\n", "volume=-1\n"));
  EXPECT_EQ(minusOne.parameters->volume, 4294967295u);
  EXPECT_EQ(minusOne.parameters->volumeAsRead(), -1);
  EXPECT_EQ(readText(fileWith("itert=3\n", "volume=2147483647\n")).parameters->volume, 2147483647u);
  EXPECT_EQ(readText(fileWith("itert=3\n", "Volume=5\n")).parameters->volume, 1000000u);
}

// Every surprise gets its one line, naming the file, the line and what the run does instead.
TEST(ReadParameterText, WarnsAboutEverySurpriseAndNotAboutAPlainFile) {
  const std::string plain = fileWith("itert=7\r\n");
  EXPECT_TRUE(readParameterText(plain, "param.txt").warnings.empty());
  EXPECT_TRUE(
      readParameterText(plain.substr(0, plain.find("itert")), "param.txt").warnings.empty());
  const auto replaced = [&](const std::string& from, const std::string& to) {
    std::string text = plain;
    return text.replace(text.find(from), from.size(), to);
  };
  const std::pair<std::string, std::string> cases[] = {
      {"# my run\n" + plain, "line 1 \"# my run\" is not \"Q=\": Q keeps its default 256"},
      {replaced("Q=64", "Q = 16"), "line 1 \"Q = 16\" is not \"Q=\": Q keeps its default 256"},
      {"\xEF\xBB\xBF" + plain,
       "line 1 starts with a byte-order mark, so it is not \"Q=\": Q keeps its default 256"},
      {replaced("P0_first", "P0_frist"),
       "line 2 \"P0_frist=0.1\" is not \"P0_first=\": P0_first keeps its default 0.24"},
      {replaced("Q=64", "Q=abc"),
       "line 1 \"Q=abc\" has no number after \"Q=\": Q keeps its default 256"},
      {replaced("volume=1000000", "volume=1e7"),
       "line 5 \"volume=1e7\": \"e7\" after the number is ignored: volume is 1"},
      {replaced("volume=1000000", "volume=5000000000"),
       "line 5 \"volume=5000000000\": 5000000000 does not fit in 32 bits: volume is 705032704"},
      {replaced("Q=64", "Q=2147483648"),
       "line 1 \"Q=2147483648\": 2147483648 does not fit in 32 bits: Q is -2147483648"},
      {replaced("Q=64", "Q=4294967298"),
       "line 1 \"Q=4294967298\": 4294967298 does not fit in 32 bits: Q is 2"},
      {replaced("volume=1000000", "volume=-1"),
       "line 5 \"volume=-1\": a negative volume counts as 4294967295 symbols"},
      {replaced("itert=7", "itert=50"), "line 7 \"itert=50\": itert is clamped to 10"},
      {replaced("P0_last=0.05", "P0_last="),
       "line 3 \"P0_last=\" has no value: P0_last keeps its default 0.02, and line 4 is skipped "
       "with it, so each later key is looked for one line late"},
      {replaced("P0_first=0.1", "P0_first=0.01"),
       "P0_first=0.01 is below P0_last=0.05: the sweep has no point"},
      {replaced("minBlockErr=7", "minBlockErr=0"),
       "minBlockErr=0: every point ends before its first block"},
      {replaced("Q=64", "Q=\x01\"x\""), "line 1 \"Q=\\x01\\x22x\\x22\" has no number"},
  };
  for (const auto& [text, warning] : cases) {
    const ParameterFileResult result = readParameterText(text, "param.txt");
    ASSERT_FALSE(result.warnings.empty()) << warning;
    EXPECT_EQ(result.warnings.front().rfind("param.txt: " + warning, 0), 0u)
        << result.warnings.front() << "\nnot: " << warning;
  }
}

RunParameters sweep(float first, float last, float step, std::int32_t Q = 256) {
  RunParameters p;
  p.P0_first = first;
  p.P0_last = last;
  p.P0_step = step;
  p.Q = Q;
  return p;
}

TEST(RefuseParameters, RefusesAlphabetsBelowTwo) {
  EXPECT_TRUE(refuseParameters(sweep(0.2f, 0.1f, 0.01f, 1), "param.txt"));
  EXPECT_TRUE(refuseParameters(sweep(0.2f, 0.1f, 0.01f, -4), "param.txt"));
  EXPECT_FALSE(refuseParameters(sweep(0.2f, 0.1f, 0.01f, 2), "param.txt"));
  EXPECT_FALSE(refuseParameters(sweep(0.2f, 0.1f, 0.01f, 2147483647), "param.txt"));
}

TEST(RefuseParameters, RefusesSweepsThatNeverEnd) {
  EXPECT_TRUE(refuseParameters(sweep(0.2f, 0.1f, 0.0f), "param.txt"));
  EXPECT_TRUE(refuseParameters(sweep(0.1f, 0.1f, 0.0f), "param.txt"));
  EXPECT_TRUE(refuseParameters(sweep(0.2f, 0.1f, -0.01f), "param.txt"));
  EXPECT_TRUE(refuseParameters(sweep(0.2f, 0.1f, 1e-12f), "param.txt"));
  // The step moves P0 at first but not once P0 has grown negative and large.
  EXPECT_TRUE(refuseParameters(sweep(0.01f, -1e10f, 0.001f), "param.txt"));
  EXPECT_TRUE(refuseParameters(sweep(INFINITY, 0.1f, 0.01f), "param.txt"));
}

TEST(RefuseParameters, AcceptsSweepsThatEndOrHaveNoPoint) {
  EXPECT_FALSE(refuseParameters(sweep(0.24f, 0.02f, 0.002f), "param.txt"));
  EXPECT_FALSE(refuseParameters(sweep(0.1f, 0.1f, 0.002f), "param.txt"));
  // P0_first below P0_last simulates nothing, whatever the step.
  EXPECT_FALSE(refuseParameters(sweep(0.01f, 0.02f, 0.0f), "param.txt"));
  EXPECT_FALSE(refuseParameters(sweep(NAN, 0.02f, 0.0f), "param.txt"));
  // A step that is not a number ends the sweep after its first point.
  EXPECT_FALSE(refuseParameters(sweep(0.2f, 0.1f, NAN), "param.txt"));
}

}  // namespace
}  // namespace nbsim
