// Tests of the iterative threshold decoder: the worked example iteration by iteration, the vote's
// margin and tie rules seen through hand-built schedules, the statistics, and single errors on
// random orthogonal codes, which the standard schedule must always correct.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "code/encoder.h"
#include "code/nonbinary_codec.h"
#include "code/threshold_decoder.h"

namespace nbsim {
namespace {

using Taps = std::vector<std::int32_t>;
using Counts = std::vector<std::int64_t>;

CodeDescription singleBranchCode(std::int32_t nr, const std::vector<Taps>& tapsPerCheck) {
  CodeDescription code;
  code.nk = 1;
  code.nr = nr;
  for (std::int32_t v = 0; v < nr; ++v) code.polynomials[0][v].taps = tapsPerCheck[v];
  return code;
}

IterationSchedule schedule(std::vector<std::int32_t> threshold,
                           std::vector<std::int32_t> diffWeight,
                           std::vector<std::int32_t> checkBranchesUsed,
                           std::vector<std::int32_t> infoBranchesUsed) {
  return {std::move(threshold), std::move(diffWeight), std::move(checkBranchesUsed),
          std::move(infoBranchesUsed)};
}

// One block of the code with taps {0, 1, 3} (L = 7, Q = 4): all zero sent, `infoErrors` and
// `checkErrors` added to what arrives as (position, value) pairs.
struct SmallBlock {
  using Errors = std::vector<std::pair<std::int32_t, Symbol>>;
  SmallBlock(const Errors& infoErrors, const Errors& checkErrors) {
    for (const auto& [position, value] : infoErrors) received[0][position] = value;
    for (const auto& [position, value] : checkErrors) checks[0][position] = value;
  }
  BranchTable transmitted = BranchTable(1, std::vector<Symbol>(7, 0));
  BranchTable received = transmitted;
  BranchTable checks = transmitted;
  BranchTable decoded = transmitted;
};

// Decodes `block` with the taps {0, 1, 3} code and returns the error counts.
Counts decodeSmall(const IterationSchedule& plan, SmallBlock& block) {
  NonBinaryCodec codec(singleBranchCode(1, {{0, 1, 3}}), 4, plan);
  ThresholdDecoder decoder(codec);
  decoder.decode(block.transmitted, block.received, block.checks, block.decoded);
  return decoder.stats().errors;
}

TEST(Decode, CorrectsTheWorkedExampleInTheSecondIteration) {
  NonBinaryCodec codec(singleBranchCode(1, {{0, 1, 3}}), 4, 3);
  ThresholdDecoder decoder(codec);
  ASSERT_EQ(codec.codeDistance(), 4);
  SmallBlock block({{2, 3}}, {});
  decoder.decode(block.transmitted, block.received, block.checks, block.decoded);
  // Iteration 0 sees a margin of 2, which does not exceed the threshold 2.
  EXPECT_EQ(decoder.stats().errors, (Counts{1, 1, 0, 0}));
  EXPECT_EQ(block.decoded, block.transmitted);
  EXPECT_EQ(decoder.stats().decodedSymbols, 7);
  const float seventh = static_cast<float>(1.0 / 7.0);
  EXPECT_EQ(decoder.stats().errorRates(), (std::vector<float>{seventh, seventh, 0.0f, 0.0f}));

  // Statistics add up over blocks; the transmitted block changes only the counts.
  BranchTable claimed = block.transmitted;
  claimed[0][5] = 1;
  BranchTable decoded(1, std::vector<Symbol>(7, 2));
  decoder.decode(claimed, block.received, block.checks, decoded);
  EXPECT_EQ(decoded, block.transmitted);
  EXPECT_EQ(decoder.stats().errors, (Counts{3, 3, 1, 1}));
  EXPECT_EQ(decoder.stats().decodedSymbols, 14);
}

TEST(Decode, LoneCheckErrorChangesNoDecision) {
  SmallBlock block({}, {{4, 1}});
  EXPECT_EQ(decodeSmall(IterationSchedule::standard(3, 1, 1), block), (Counts{0, 0, 0, 0}));
  EXPECT_EQ(block.decoded, block.transmitted);
}

TEST(Decode, ErrorRatesOfNoBlockAreNotANumber) {
  const NonBinaryCodec codec(singleBranchCode(1, {{0, 1, 3}}), 4, 2);
  for (float rate : ThresholdDecoder(codec).stats().errorRates()) EXPECT_TRUE(std::isnan(rate));
}

// The info error 3 at position 2 lies on the checks 2, 1 and 6; a check error of 1 at 6 turns
// that syndrome into 2, so the vote reads difference 0, then 3, 3, 2: margin 1.
TEST(Vote, MarginOfOneCorrectsOnlyAboveThresholdZero) {
  SmallBlock strict({{2, 3}}, {{6, 1}});
  EXPECT_EQ(decodeSmall(schedule({1}, {1}, {1}, {1}), strict), (Counts{1, 1}));
  EXPECT_EQ(strict.decoded[0][2], 3);

  SmallBlock loose({{2, 3}}, {{6, 1}});
  EXPECT_EQ(decodeSmall(schedule({0}, {1}, {1}, {1}), loose), (Counts{1, 0}));
  EXPECT_EQ(loose.decoded, loose.transmitted);
}

// Check errors of 1 at 1 and 2 at 6 leave three different syndromes 3, 2, 1 on the info error:
// a three-way tie, margin 0, won by the earliest value 3.
TEST(Vote, TieForTheLeadGivesMarginZeroAndTheEarliestValueWins) {
  SmallBlock tie({{2, 3}}, {{1, 1}, {6, 2}});
  EXPECT_EQ(decodeSmall(schedule({0, 0}, {0, 0}, {1, 1}, {1, 1}), tie), (Counts{1, 1, 1}));
  EXPECT_EQ(tie.decoded[0][2], 3);

  // A threshold below zero lets the tie through; only the earliest value, 3, repairs the symbol.
  SmallBlock below({{2, 3}}, {{1, 1}, {6, 2}});
  EXPECT_EQ(decodeSmall(schedule({-1, -1}, {0, 0}, {1, 1}, {1, 1}), below), (Counts{1, 0, 0}));
  EXPECT_EQ(below.decoded, below.transmitted);
}

// With weight 0 the difference (0) is no candidate: the tie 3, 0, 2 of syndromes, made by
// check errors of 3 at 1 and 1 at 6, still goes to 3.
TEST(Vote, DifferenceOfWeightZeroTakesNoPlaceInTheTable) {
  SmallBlock block({{2, 3}}, {{1, 3}, {6, 1}});
  EXPECT_EQ(decodeSmall(schedule({-1, -1}, {0, 0}, {1, 1}, {1, 1}), block), (Counts{1, 0, 0}));
  EXPECT_EQ(block.decoded, block.transmitted);
}

TEST(Vote, WithoutCandidatesTheValueIsZeroAndNothingChanges) {
  SmallBlock block({{2, 3}, {5, 1}}, {{0, 2}});
  EXPECT_EQ(decodeSmall(schedule({-1, -1}, {0, 0}, {0, 0}, {1, 1}), block), (Counts{2, 2, 2}));
  EXPECT_EQ(block.decoded, block.received);
}

TEST(Vote, AHeavyDifferenceHoldsTheSymbolAgainstItsChecks) {
  // Weight 3 on the difference, still 0, ties the three checks reading 3 and, being first, wins
  // even against a threshold of -1; a later weight of 1 lets the checks through.
  SmallBlock block({{2, 3}}, {});
  EXPECT_EQ(decodeSmall(schedule({-1, 0}, {3, 1}, {1, 1}, {1, 1}), block), (Counts{1, 1, 0}));
  EXPECT_EQ(block.decoded, block.transmitted);
}

TEST(Vote, TheDifferenceRemembersTheCorrectionsOfTheSymbol) {
  // Iteration 0 corrects by 3, leaving the difference at 1; weight 5 on it in iteration 1 undoes
  // the correction, and iteration 2 makes it again.
  SmallBlock block({{2, 3}}, {});
  EXPECT_EQ(decodeSmall(schedule({0, 0, 0}, {1, 5, 1}, {1, 1, 1}, {1, 1, 1}), block),
            (Counts{1, 0, 1, 0}));
  EXPECT_EQ(block.decoded, block.transmitted);
}

// Syndromes 1 1 0 0 1 1 1: positions 1 and 0 both see a margin of 2, but correcting 1 first
// leaves position 0 a tie.
TEST(Decode, PositionsAreVisitedFromLastToFirst) {
  SmallBlock block({{0, 1}, {1, 1}}, {{0, 1}});
  EXPECT_EQ(decodeSmall(schedule({1}, {1}, {1}, {1}), block), (Counts{2, 1}));
  EXPECT_EQ(block.decoded[0], (std::vector<Symbol>{1, 0, 0, 0, 0, 0, 0}));
}

TEST(Decode, UnvisitedBranchIsCountedOnlyOnArrival) {
  CodeDescription code;
  code.nk = 2;
  code.nr = 1;
  code.polynomials[0][0].taps = {0, 1, 3};
  code.polynomials[1][0].taps = {0};
  const BranchTable zeros(2, std::vector<Symbol>(7, 0));
  BranchTable received = zeros;
  received[0][2] = 3;
  received[1][5] = 1;
  for (const std::int32_t visited : {1, 2}) {
    SCOPED_TRACE("information branches visited: " + std::to_string(visited));
    NonBinaryCodec codec(code, 4, schedule({1, 0}, {1, 1}, {1, 1}, {visited, visited}));
    ThresholdDecoder decoder(codec);
    BranchTable decoded = zeros;
    decoder.decode(zeros, received, zeros, decoded);
    // Branch 1 has a single check, so its vote is a tie with its difference and never corrects.
    EXPECT_EQ(decoder.stats().errors, visited == 1 ? (Counts{2, 0, 0}) : (Counts{2, 1, 1}));
    EXPECT_EQ(decoder.stats().decodedSymbols, 14);
    EXPECT_EQ(decoded[0], zeros[0]);
    EXPECT_EQ(decoded[1], received[1]);
  }
}

TEST(Decode, CorrectionKeepsTheSyndromesOfNonVotingCheckBranches) {
  // Iteration 0 corrects through check branch 0 alone; had branch 1 kept the old syndromes,
  // iteration 1 would read 3 four times there against three zeros and subtract again.
  NonBinaryCodec codec(singleBranchCode(2, {{0, 1, 3}, {0, 2, 5, 6}}), 4,
                       schedule({0, 0}, {0, 0}, {1, 2}, {1, 1}));
  ThresholdDecoder decoder(codec);
  BranchTable checks(2, std::vector<Symbol>(13, 0));
  BranchTable transmitted(1, std::vector<Symbol>(13, 0));
  BranchTable received = transmitted, decoded = transmitted;
  received[0][2] = 3;
  ASSERT_EQ(codec.blockLength(), 13);
  decoder.decode(transmitted, received, checks, decoded);
  EXPECT_EQ(decoder.stats().errors, (Counts{1, 0, 0}));
  EXPECT_EQ(decoded, transmitted);
}

// Builds a code whose checks are orthogonal on every information symbol: for each pair of
// information branches (i, i'), every difference t' - t of a tap t of (i, v) and a tap t' of
// (i', v), over all check branches v, occurs once (0 of a tap with itself excepted). Two checks
// of one symbol then share no other symbol, also cyclically, as L = 2 x largest tap + 1.
CodeDescription randomOrthogonalCode(std::mt19937_64& random) {
  CodeDescription code;
  code.nk = static_cast<std::int32_t>(1 + random() % 3);
  code.nr = static_cast<std::int32_t>(1 + random() % 3);
  // differences[a][b]: the differences t_b - t_a taken so far.
  std::array<std::array<std::set<std::int32_t>, 4>, 4> differences;
  for (std::int32_t i = 0; i < code.nk; ++i) {
    const auto checks = 3 + random() % 4;
    for (std::uint64_t n = 0; n < checks;) {
      const auto v = static_cast<std::int32_t>(random() % code.nr);
      const auto t = static_cast<std::int32_t>(random() % 150);
      auto tried = differences;
      bool fits = true;
      for (std::int32_t other = 0; other < code.nk; ++other) {
        for (std::int32_t u : code.polynomials[other][v].taps) {
          fits = fits && tried[i][other].insert(u - t).second;
          fits = fits && tried[other][i].insert(t - u).second;
        }
      }
      if (!fits) continue;
      differences = std::move(tried);
      code.polynomials[i][v].taps.push_back(t);
      ++n;
    }
  }
  return code;
}

TEST(Decode, StandardScheduleCorrectsAnySingleErrorOfAnOrthogonalCode) {
  constexpr std::uint64_t seed = 7130417;
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937_64 random(seed);
  const std::int32_t alphabets[] = {3, 4, 10, 256, 65536, 2147483647};
  for (int trial = 0; trial < 300; ++trial) {
    SCOPED_TRACE("trial " + std::to_string(trial));
    const CodeDescription code = randomOrthogonalCode(random);
    const std::int32_t Q = alphabets[random() % 6];
    const auto itert = static_cast<std::int32_t>(2 + random() % 4);
    NonBinaryCodec codec(code, Q, itert);
    ThresholdDecoder decoder(codec);
    ASSERT_GE(codec.codeDistance(), 4);
    const std::int32_t L = codec.blockLength();

    BranchTable info(code.nk, std::vector<Symbol>(L));
    for (auto& branch : info) {
      for (auto& s : branch) s = static_cast<Symbol>(random() % Q);
    }
    BranchTable checks(code.nr, std::vector<Symbol>(L));
    encode(codec, info, checks);

    BranchTable received = info;
    const bool inInfo = random() % 2 == 0;
    BranchTable& hit = inInfo ? received : checks;
    Symbol& symbol = hit[random() % hit.size()][random() % L];
    const auto error = static_cast<std::int64_t>(1 + random() % (Q - 1));
    symbol = static_cast<Symbol>((symbol + error) % Q);

    BranchTable decoded(code.nk, std::vector<Symbol>(L, -1));
    decoder.decode(info, received, checks, decoded);
    EXPECT_EQ(decoded, info) << "Q=" << Q << " nk=" << code.nk << " nr=" << code.nr;
    EXPECT_EQ(decoder.stats().errors[0], inInfo ? 1 : 0);
    EXPECT_EQ(decoder.stats().errors[itert], 0);
    if (!inInfo) {
      EXPECT_EQ(decoder.stats().errors, Counts(itert + 1, 0));
    }
  }
}

}  // namespace
}  // namespace nbsim
