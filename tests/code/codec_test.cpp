// Tests of the codec's derived quantities, its standard schedule and statistics reset, and of the
// encoder's check symbols, including exact sums for the largest alphabet.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "code/encoder.h"
#include "code/nonbinary_codec.h"
#include "code/threshold_decoder.h"

namespace nbsim {
namespace {

using Taps = std::vector<std::int32_t>;

struct Polynomial {
  std::int32_t i;
  std::int32_t v;
  Taps taps;
};

CodeDescription makeCode(std::int32_t nk, std::int32_t nr, const std::vector<Polynomial>& list) {
  CodeDescription code;
  code.nk = nk;
  code.nr = nr;
  for (const Polynomial& p : list) code.polynomials[p.i][p.v].taps = p.taps;
  return code;
}

BranchTable table(std::int32_t branches, std::int32_t L, Symbol fill = 0) {
  return BranchTable(branches, std::vector<Symbol>(L, fill));
}

TEST(Codec, DerivesLengthDistanceAndChecksOfTheTwoByTwoExample) {
  const NonBinaryCodec codec(
      makeCode(2, 2, {{0, 0, {0, 4}}, {1, 0, {9}}, {0, 1, {2, 6, 7}}, {1, 1, {}}}), 16, 4);
  EXPECT_EQ(codec.blockLength(), 19);
  EXPECT_EQ(codec.codeDistance(), 2);
  EXPECT_EQ(codec.maxChecks(), 5);
  EXPECT_EQ(codec.itert(), 4);
  EXPECT_EQ(codec.codeRate(), 0.5);
}

TEST(Codec, OnlyTapZeroGivesBlockLengthOne) {
  const NonBinaryCodec codec(makeCode(3, 4, {{0, 0, {0}}}), 16, 2);
  EXPECT_EQ(codec.blockLength(), 1);
  EXPECT_EQ(codec.codeDistance(), 1);  // branches 1 and 2 have no check
  EXPECT_EQ(codec.maxChecks(), 1);
  EXPECT_EQ(codec.codeRate(), 3.0 / 7.0);
}

TEST(Codec, StandardScheduleHasThresholdsTwoOneThenZeroOverAllBranches) {
  const NonBinaryCodec codec(makeCode(2, 3, {{0, 0, {0, 1}}}), 16, 5);
  const IterationSchedule& schedule = codec.schedule();
  EXPECT_EQ(schedule.threshold, (std::vector<std::int32_t>{2, 1, 0, 0, 0}));
  EXPECT_EQ(schedule.diffWeight, (std::vector<std::int32_t>{1, 1, 1, 1, 1}));
  EXPECT_EQ(schedule.checkBranchesUsed, (std::vector<std::int32_t>{3, 3, 3, 3, 3}));
  EXPECT_EQ(schedule.infoBranchesUsed, (std::vector<std::int32_t>{2, 2, 2, 2, 2}));
}

TEST(ThresholdDecoder, ResetStatsClearsEveryEntryUpToTheLastIteration) {
  // Thresholds that never let a correction through keep the error in every entry.
  IterationSchedule schedule = IterationSchedule::standard(3, 1, 1);
  schedule.threshold = {100, 100, 100};
  NonBinaryCodec codec(makeCode(1, 1, {{0, 0, {0, 1, 3}}}), 4, schedule);
  const BranchTable zeros = table(1, 7);
  BranchTable received = zeros;
  BranchTable decoded = zeros;
  received[0][2] = 3;
  ThresholdDecoder decoder(codec);
  decoder.decode(zeros, received, zeros, decoded);
  EXPECT_EQ(decoder.stats().errors, (std::vector<std::int64_t>{1, 1, 1, 1}));
  EXPECT_EQ(decoder.stats().decodedSymbols, 7);
  decoder.resetStats();
  EXPECT_EQ(decoder.stats().errors, (std::vector<std::int64_t>{0, 0, 0, 0}));
  EXPECT_EQ(decoder.stats().decodedSymbols, 0);
}

TEST(Encoder, ComputesTheWorkedExample) {
  NonBinaryCodec codec(makeCode(2, 1, {{0, 0, {0, 2}}, {1, 0, {1}}}), 8, 2);
  ASSERT_EQ(codec.blockLength(), 5);
  BranchTable checks = table(1, 5, 99);
  encode(codec, {{1, 2, 3, 4, 5}, {7, 6, 5, 4, 3}}, checks);
  EXPECT_EQ(checks[0], (std::vector<Symbol>{2, 3, 4, 0, 6}));
}

TEST(Encoder, ATapListedTwiceCountsTwice) {
  NonBinaryCodec codec(makeCode(1, 1, {{0, 0, {1, 1}}}), 10, 2);
  BranchTable checks = table(1, 3);
  encode(codec, {{4, 7, 9}}, checks);
  EXPECT_EQ(checks[0], (std::vector<Symbol>{4, 8, 8}));
}

TEST(Encoder, EmptyPolynomialsGiveZeroChecks) {
  NonBinaryCodec codec(makeCode(2, 2, {{1, 0, {3}}}), 5, 2);
  BranchTable checks = table(2, 7, 4);
  encode(codec, {{1, 1, 1, 1, 1, 1, 1}, {0, 1, 2, 3, 4, 0, 1}}, checks);
  EXPECT_EQ(checks[0], (std::vector<Symbol>{3, 4, 0, 1, 0, 1, 2}));
  EXPECT_EQ(checks[1], (std::vector<Symbol>(7, 0)));
}

// Each check recomputed by reducing after every term must equal the encoder's single reduction of
// a 64-bit sum, also where the sum passes 2^31 many times over.
TEST(Encoder, MatchesTermByTermReductionOnRandomCodes) {
  constexpr std::uint64_t seed = 20240611;
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937_64 random(seed);
  const std::int32_t alphabets[] = {2, 3, 256, 65536, 2147483647};
  for (int trial = 0; trial < 200; ++trial) {
    SCOPED_TRACE("trial " + std::to_string(trial));
    const std::int32_t Q = alphabets[random() % 5];
    const auto nk = static_cast<std::int32_t>(1 + random() % 4);
    const auto nr = static_cast<std::int32_t>(1 + random() % 4);
    std::vector<Polynomial> list;
    for (std::int32_t i = 0; i < nk; ++i) {
      for (std::int32_t v = 0; v < nr; ++v) {
        Taps taps(random() % 41);
        for (auto& t : taps) t = static_cast<std::int32_t>(random() % 60);
        list.push_back({i, v, taps});
      }
    }
    NonBinaryCodec codec(makeCode(nk, nr, list), Q, 2);
    const std::int32_t L = codec.blockLength();
    BranchTable info = table(nk, L);
    for (auto& branch : info) {
      for (auto& s : branch) s = static_cast<Symbol>(random() % Q);
    }
    BranchTable checks = table(nr, L, -1);
    encode(codec, info, checks);
    for (std::int32_t v = 0; v < nr; ++v) {
      for (std::int32_t a = 0; a < L; ++a) {
        std::int64_t expected = 0;
        for (std::int32_t i = 0; i < nk; ++i) {
          for (std::int32_t t : codec.taps(i, v)) {
            expected = (expected + info[i][(a + t) % L]) % Q;
          }
        }
        ASSERT_EQ(checks[v][a], expected) << "v=" << v << " a=" << a << " Q=" << Q;
      }
    }
  }
}

}  // namespace
}  // namespace nbsim
