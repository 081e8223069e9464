// A point that goes on from where an interrupted run left it, between two blocks, ends with the
// counts of the point never interrupted, on both paths. Where the next block starts is found by a
// plain walk over the channel's draws.
#include "tests/engine/resume_point.h"

#include <gtest/gtest.h>

#include <random>

namespace nbsim {
namespace {

TEST(ResumedPoint, EndsWithTheCountsOfThePointNeverCut) {
  constexpr std::uint64_t seed = 20261208;
  std::mt19937_64 random(seed);
  for (int n = 0; n < 60; ++n) {
    const testing::RandomPoint point = testing::randomPoint(random);
    SCOPED_TRACE("case " + std::to_string(n) + " of seed " + std::to_string(seed) + ": " +
                 point.describe());
    const NonBinaryCodec codec(point.code, point.parameters.Q, point.parameters.itert);
    const PointLimits limits{point.parameters.volume, point.parameters.minBlockErr};
    const PointResult whole = testing::referencePoint(point);
    const std::int64_t blocks = whole.counters.blocks;
    if (blocks == 0) continue;
    // Cut before the first block, before the last, and before one between.
    for (const std::int64_t cut :
         {std::int64_t{0}, blocks - 1, static_cast<std::int64_t>(random() % blocks)}) {
      SCOPED_TRACE("cut after " + std::to_string(cut) + " blocks");
      const PointState state = testing::stateAfter(point, codec, cut);
      PointResult resumed;
      ReferencePointSimulator(codec, limits, point.seed)
          .simulate(point.P0, resumed, {}, nullptr, &state);
      ASSERT_EQ(resumed, whole);
      DrawStreamCache cache(point.seed, point.chunkSize, point.chunkCount);
      FastPointSimulator(codec, limits, cache).simulate(point.P0, resumed, {}, nullptr, &state);
      ASSERT_EQ(resumed, whole);
    }
  }
}

}  // namespace
}  // namespace nbsim
