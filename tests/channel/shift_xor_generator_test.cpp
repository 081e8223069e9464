// Checks the channel generator against draws worked out by hand from its shift-XOR step, so that
// any change to the step, the masks, the draw length or the seeding shows up as different numbers.
#include "channel/shift_xor_generator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "channel/draw_stream.h"

namespace nbsim {
namespace {

std::vector<std::int32_t> firstDraws(std::int32_t seed, int count) {
  ShiftXorGenerator generator;
  generator.init(seed);
  std::vector<std::int32_t> draws;
  for (int i = 0; i < count; ++i) {
    draws.push_back(generator.nextInt());
  }
  return draws;
}

TEST(ShiftXorGeneratorSequence, SeedOneGivesTheKnownFirstFiveDraws) {
  EXPECT_EQ(firstDraws(1, 5),
            (std::vector<std::int32_t>{3468188, 969625063, 805392057, 166230558, 1335699234}));
}

TEST(ShiftXorGeneratorSequence, SeedZeroGivesTheKnownFirstFiveDraws) {
  EXPECT_EQ(firstDraws(0, 5),
            (std::vector<std::int32_t>{540862876, 835538279, 839110297, 157817398, 1304235816}));
}

TEST(ShiftXorGeneratorSequence, FillGivesTheDrawsOfNextIntAndGoesOnFromThem) {
  ShiftXorGenerator generator;
  generator.init(12345);
  std::vector<std::int32_t> draws(1000);
  generator.fill(draws.data(), 600);
  generator.fill(draws.data() + 600, 0);
  for (std::size_t d = 600; d < 700; ++d) draws[d] = generator.nextInt();
  generator.fill(draws.data() + 700, 300);
  EXPECT_EQ(draws, firstDraws(12345, 1000));
}

TEST(ShiftXorGeneratorSequence, EveryDrawVariantGivesTheDrawsOfFill) {
  // Random seeds, offsets into the stream and lengths (every length modulo the lanes), for the
  // generator's lanes, a LaneFill, and the shared stream's chunks and a cursor's live draws
  // beyond them.
  std::mt19937_64 random(2026);
  for (const DrawVariant variant : availableDrawVariants()) {
    const std::size_t lanes = drawLanes(variant);
    for (int trial = 0; trial < 40; ++trial) {
      const auto seed = static_cast<std::int32_t>(random());
      const std::size_t offset = random() % 300;
      const std::size_t perLane = 1 + random() % (trial < 20 ? 40 : 300);
      const std::size_t count = lanes * perLane;
      ShiftXorGenerator plain;
      plain.init(seed);
      std::vector<std::int32_t> expected(offset + 2 * count + 3);
      plain.fill(expected.data(), expected.size());
      ShiftXorGenerator generator;
      generator.init(seed);
      std::vector<std::int32_t> draws(offset);
      generator.fill(draws.data(), offset);
      draws.resize(expected.size());
      const ShiftXorGenerator::Jump jump(perLane);
      // The map of twice the draws, squared or made whole.
      const std::uint64_t state = random();
      ASSERT_EQ(jump.twice().apply(state), ShiftXorGenerator::Jump(2 * perLane).apply(state));
      generator.fillInLanes(draws.data() + offset, perLane, jump, variant);
      const LaneFill fill(count, variant);
      fill(generator, draws.data() + offset + count);
      generator.fill(draws.data() + offset + 2 * count, 3);
      ASSERT_EQ(draws, expected) << drawVariantName(variant) << ", perLane " << perLane
                                 << ", offset " << offset;

      const std::size_t chunkSize = 16 * lanes * (1 + random() % 3) + (trial % 2) * lanes;
      DrawStreamCache cache(seed, chunkSize, 2, variant);
      DrawCursor cursor(cache);
      cursor.seek(static_cast<std::int64_t>(offset));
      std::vector<std::int32_t> read(offset + 2 * chunkSize + 5000);
      for (std::size_t d = offset; d < read.size(); ++d) read[d] = cursor.next();
      expected.resize(read.size());
      plain.init(seed);
      plain.fill(expected.data(), expected.size());
      std::fill(expected.begin(), expected.begin() + static_cast<std::ptrdiff_t>(offset), 0);
      ASSERT_EQ(read, expected) << drawVariantName(variant) << ", chunks of " << chunkSize;
    }
  }
}

TEST(ShiftXorGeneratorSequence, OnlyTheLowTwentyOneSeedBitsMatter) {
  EXPECT_EQ(firstDraws(2097153, 20), firstDraws(1, 20));
  // A negative seed keeps its bit pattern: -1 has the same low 21 bits as 0x1FFFFF.
  EXPECT_EQ(firstDraws(-1, 20), firstDraws(0x1FFFFF, 20));
  EXPECT_NE(firstDraws(2, 20), firstDraws(1, 20));
}

TEST(ShiftXorGeneratorSequence, InitMidSequenceRestartsFromTheFirstDraw) {
  ShiftXorGenerator generator;
  generator.init(1);
  generator.nextInt();
  generator.nextInt();
  generator.init(1);
  EXPECT_EQ(generator.nextInt(), 3468188);
  generator.init(0);
  EXPECT_EQ(generator.nextInt(), 540862876);
}

TEST(ShiftXorGeneratorUniform, IsTheDrawDividedByMaskBInDoublePrecision) {
  ShiftXorGenerator generator;
  generator.init(1);
  // Exact comparison: a quotient computed or stored in float would differ in the low bits.
  EXPECT_EQ(generator.uniform(), 3468188.0 / 2147483647.0);
  EXPECT_NEAR(3468188.0 / 2147483647.0, 0.0016150009, 1e-10);
}

TEST(ShiftXorGeneratorUniform, SharesOneSequenceWithNextInt) {
  ShiftXorGenerator generator;
  generator.init(1);
  EXPECT_EQ(generator.nextInt(), 3468188);
  const double second = generator.uniform();
  EXPECT_EQ(second, 969625063.0 / 2147483647.0);
  EXPECT_NEAR(second, 0.45151686, 1e-8);
  EXPECT_EQ(generator.nextInt(), 805392057);
}

TEST(ShiftXorGeneratorUniform, ReachesBothEndsOfTheUnitIntervalExactly) {
  ShiftXorGenerator generator;
  generator.init(740063);
  for (int i = 1; i < 631; ++i) {
    generator.nextInt();
  }
  EXPECT_EQ(generator.uniform(), 0.0);
  generator.init(1504905);
  for (int i = 1; i < 25; ++i) {
    generator.nextInt();
  }
  EXPECT_EQ(generator.uniform(), 1.0);
}

TEST(ShiftXorGeneratorRange, DrawsStayNonNegativeAndUniformStaysInTheUnitInterval) {
  for (std::int32_t seed : {0, 1, -1, 12345, 2097151, INT32_MIN, INT32_MAX}) {
    ShiftXorGenerator generator;
    generator.init(seed);
    for (int i = 0; i < 20000; ++i) {
      ASSERT_GE(generator.nextInt(), 0) << "seed " << seed << ", draw " << i;
      const double u = generator.uniform();
      ASSERT_GE(u, 0.0);
      ASSERT_LE(u, 1.0);
    }
  }
}

}  // namespace
}  // namespace nbsim
