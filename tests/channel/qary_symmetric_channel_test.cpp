// Checks the Q-ary symmetric channel: the corrupted symbols for a known seed, how many generator
// draws each transmit consumes, and the edges of P0 and Q.
#include "channel/qary_symmetric_channel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "channel/shift_xor_generator.h"

namespace nbsim {
namespace {

constexpr std::int32_t kLargestQ = 2147483647;

// The channel with a look at its generator's next draw.
class ProbedChannel : public QarySymmetricChannel {
 public:
  using QarySymmetricChannel::QarySymmetricChannel;
  std::int32_t nextDraw() { return generator_.nextInt(); }
};

ProbedChannel makeChannel(std::int32_t Q, float P0, std::int32_t seed = 1) {
  ProbedChannel channel(Q, seed);
  channel.setErrorProbability(P0);
  channel.reseed();
  return channel;
}

std::vector<Symbol> send(QarySymmetricChannel& channel, const std::vector<Symbol>& input) {
  std::vector<Symbol> output(input.size(), -1);
  channel.transmit(input.data(), output.data(), static_cast<std::int32_t>(input.size()));
  return output;
}

// The generator's next draw after the channel has used `drawsUsed` draws of seed `seed`.
std::int32_t drawAfter(std::int32_t seed, int drawsUsed) {
  ShiftXorGenerator reference;
  reference.init(seed);
  for (int i = 0; i < drawsUsed; ++i) reference.nextInt();
  return reference.nextInt();
}

TEST(QarySymmetricChannelTransmit, SeedOneCorruptsTheKnownSymbolsAndUsesTwelveDraws) {
  ProbedChannel channel = makeChannel(256, 0.25f);
  EXPECT_EQ(send(channel, std::vector<Symbol>(8, 0)),
            (std::vector<Symbol>{59, 0, 55, 0, 41, 0, 243, 0}));
  EXPECT_EQ(channel.nextDraw(), drawAfter(1, 12));
}

TEST(QarySymmetricChannelTransmit, ReseedReplaysTheSameCorruption) {
  ProbedChannel channel = makeChannel(256, 0.25f);
  const std::vector<Symbol> input{1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  const std::vector<Symbol> first = send(channel, input);
  EXPECT_NE(send(channel, input), first);
  channel.reseed();
  EXPECT_EQ(send(channel, input), first);
}

TEST(QarySymmetricChannelTransmit, NonPositiveCountTouchesNothingAndDrawsNothing) {
  ProbedChannel channel = makeChannel(256, 1.0f);
  const std::vector<Symbol> input{5, 6};
  std::vector<Symbol> output{-7, -8};
  channel.transmit(input.data(), output.data(), 0);
  channel.transmit(input.data(), output.data(), -3);
  EXPECT_EQ(output, (std::vector<Symbol>{-7, -8}));
  EXPECT_EQ(channel.nextDraw(), drawAfter(1, 0));
}

TEST(QarySymmetricChannelErrorProbability, ZeroPassesSymbolsButStillDrawsOncePerSymbol) {
  ProbedChannel channel = makeChannel(256, 0.0f);
  std::vector<Symbol> input(1000);
  for (std::size_t i = 0; i < input.size(); ++i) {
    input[i] = static_cast<Symbol>(i % 256);
  }
  EXPECT_EQ(send(channel, input), input);
  EXPECT_EQ(channel.nextDraw(), drawAfter(1, 1000));
}

TEST(QarySymmetricChannelErrorProbability, NegativePassesSymbolsButStillDrawsOncePerSymbol) {
  ProbedChannel channel = makeChannel(256, -0.5f);
  const std::vector<Symbol> input(37, 200);
  EXPECT_EQ(send(channel, input), input);
  EXPECT_EQ(channel.nextDraw(), drawAfter(1, 37));
}

TEST(QarySymmetricChannelErrorProbability, OneOrMoreCorruptsEverySymbolWithTwoDrawsEach) {
  for (float P0 : {1.0f, 2.0f}) {
    ProbedChannel channel = makeChannel(5, P0, 42);
    std::vector<Symbol> input(10000);
    for (std::size_t i = 0; i < input.size(); ++i) {
      input[i] = static_cast<Symbol>(i % 5);
    }
    const std::vector<Symbol> output = send(channel, input);
    for (std::size_t i = 0; i < input.size(); ++i) {
      ASSERT_NE(output[i], input[i]) << "P0 " << P0 << ", symbol " << i;
      ASSERT_GE(output[i], 0);
      ASSERT_LT(output[i], 5);
    }
    EXPECT_EQ(channel.nextDraw(), drawAfter(42, 20000));
  }
}

TEST(QarySymmetricChannelErrorProbability, ComparesTheDrawWithP0WithoutNarrowingToFloat) {
  // The float nearest to each first draw is below it, so a draw rounded to float before the
  // comparison would be corrupted by the P0 just below it.
  for (std::int32_t seed = 1; seed <= 20; ++seed) {
    ShiftXorGenerator reference;
    reference.init(seed);
    const double u = reference.uniform();
    float below = static_cast<float>(u);
    if (static_cast<double>(below) >= u) {
      below = std::nextafter(below, 0.0f);
    }
    const float above = std::nextafter(below, 1.0f);
    ASSERT_GT(static_cast<double>(above), u);

    ProbedChannel passing = makeChannel(256, below, seed);
    EXPECT_EQ(send(passing, {17})[0], 17) << "seed " << seed;
    ProbedChannel corrupting = makeChannel(256, above, seed);
    EXPECT_NE(send(corrupting, {17})[0], 17) << "seed " << seed;
  }
}

TEST(QarySymmetricChannelErrorProbability, DrawsOfExactlyZeroAndOneAreCorruptedAtTheLimitsOfP0) {
  // Seed 740063's draw 631 is exactly 0: P0 = 0 corrupts that symbol only, a negative P0 none.
  ProbedChannel atZero = makeChannel(256, 0.0f, 740063);
  const std::vector<Symbol> zeroOutput = send(atZero, std::vector<Symbol>(631, 0));
  EXPECT_EQ(std::vector<Symbol>(zeroOutput.begin(), zeroOutput.end() - 1),
            std::vector<Symbol>(630, 0));
  EXPECT_NE(zeroOutput.back(), 0);
  ProbedChannel belowZero = makeChannel(256, -1e-30f, 740063);
  EXPECT_EQ(send(belowZero, std::vector<Symbol>(631, 0)), std::vector<Symbol>(631, 0));

  // Seed 1504905's draw 25 is exactly 1: P0 = 1 corrupts it, the float just below 1 does not.
  for (float P0 : {1.0f, std::nextafter(1.0f, 0.0f)}) {
    ProbedChannel atOne = makeChannel(256, 0.0f, 1504905);
    send(atOne, std::vector<Symbol>(24, 0));
    atOne.setErrorProbability(P0);
    EXPECT_EQ(send(atOne, {9})[0] != 9, P0 == 1.0f) << "P0 " << P0;
  }
}

TEST(QarySymmetricChannelAlphabet, BinaryAlphabetFlipsEveryCorruptedSymbol) {
  ProbedChannel channel = makeChannel(2, 1.0f);
  EXPECT_EQ(send(channel, {0, 1, 1, 0, 0, 1}), (std::vector<Symbol>{1, 0, 0, 1, 1, 0}));
}

TEST(QarySymmetricChannelAlphabet, LargestAlphabetWrapsAroundWithoutOverflow) {
  // Seed 1 with P0 = 1: the first symbol's error is the second draw, 969625063, plus one.
  constexpr Symbol error = 969625064;
  const auto firstOutput = [](Symbol input) {
    ProbedChannel channel = makeChannel(kLargestQ, 1.0f);
    return send(channel, {input})[0];
  };
  EXPECT_EQ(firstOutput(0), error);
  EXPECT_EQ(firstOutput(kLargestQ - error - 1), kLargestQ - 1);
  EXPECT_EQ(firstOutput(kLargestQ - error), 0);
  EXPECT_EQ(firstOutput(kLargestQ - 1), error - 1);
}

TEST(QarySymmetricChannelStatistics, CorruptsAboutP0OfTheSymbolsWithEveryErrorValueAlike) {
  constexpr std::int32_t Q = 8;
  constexpr int kSymbols = 1000000;
  ProbedChannel channel = makeChannel(Q, 0.1f, 2024);
  const std::vector<Symbol> output = send(channel, std::vector<Symbol>(kSymbols, 3));
  std::vector<int> errorCounts(Q, 0);
  for (Symbol symbol : output) {
    ++errorCounts[static_cast<std::size_t>((symbol - 3 + Q) % Q)];
  }
  const int corrupted = kSymbols - errorCounts[0];
  // Five standard deviations of the binomial count: 1500 symbols either way.
  EXPECT_NEAR(corrupted, 100000, 1500);
  for (std::int32_t e = 1; e < Q; ++e) {
    EXPECT_NEAR(errorCounts[static_cast<std::size_t>(e)], corrupted / (Q - 1), 600) << "e " << e;
  }
}

}  // namespace
}  // namespace nbsim
