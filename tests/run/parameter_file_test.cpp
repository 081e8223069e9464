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
