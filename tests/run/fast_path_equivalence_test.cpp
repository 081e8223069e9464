// The fast path against the plain reference path: identical counts and statistics on random
// points, identical reports on random sweeps, whatever the number of threads.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

#include "tests/support/random_runs.h"

namespace nbsim {
namespace {

using testing::RandomPoint;

TEST(FastPath, GivesTheReferenceCountsOnRandomPoints) {
  constexpr std::uint64_t seed = 20261207;
  std::mt19937_64 random(seed);
  for (int n = 0; n < 400; ++n) {
    const RandomPoint point = testing::randomPoint(random);
    SCOPED_TRACE("case " + std::to_string(n) + " of seed " + std::to_string(seed) + ": " +
                 point.describe());
    const PointResult reference = testing::referencePoint(point);
    const PointResult fast = testing::fastPoint(point);
    ASSERT_EQ(fast.counters, reference.counters);
    ASSERT_EQ(fast.stats, reference.stats);
    ASSERT_EQ(fast.ser, reference.ser);
  }
}

}  // namespace
}  // namespace nbsim
