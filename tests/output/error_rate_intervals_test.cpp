// The 95 % intervals against values found independently: the binomial tails summed term by term
// at the FER bounds, and the exact Poisson limits of statistical tables for the SER of blocks
// that all hold the same number of wrong symbols.
#include "output/error_rate_intervals.h"

#include <gtest/gtest.h>

#include <cmath>

namespace nbsim {
namespace {

// P(X >= k) and P(X <= k) for X binomial with n trials of probability p, summed term by term.
long double binomialAtLeast(int k, int n, long double p) {
  long double sum = 0;
  for (int j = k; j <= n; ++j) {
    long double term = std::pow(p, j) * std::pow(1 - p, n - j);
    for (int t = 0; t < j; ++t) term = term * (n - t) / (t + 1);
    sum += term;
  }
  return sum;
}
long double binomialAtMost(int k, int n, long double p) { return 1 - binomialAtLeast(k + 1, n, p); }

TEST(ErrorRateIntervals, FerBoundsLeaveTwoAndAHalfPercentInEachTailOfTheBinomial) {
  for (int n = 1; n <= 14; ++n) {
    for (int k = 0; k <= n; ++k) {
      SCOPED_TRACE(std::to_string(k) + " of " + std::to_string(n));
      const RateInterval fer = blockErrorInterval(k, n);
      if (k == 0) {
        // One-sided: no error in n blocks has probability 5 % at the bound.
        EXPECT_EQ(fer.lower, 0.0);
        EXPECT_NEAR(binomialAtMost(0, n, fer.upper), 0.05, 1e-12);
      } else {
        EXPECT_NEAR(binomialAtLeast(k, n, fer.lower), 0.025, 1e-12);
      }
      if (k == n) {
        EXPECT_EQ(fer.upper, 1.0);
      } else if (k > 0) {
        EXPECT_NEAR(binomialAtMost(k, n, fer.upper), 0.025, 1e-12);
      }
    }
  }
  // Many blocks: the normal approximation.
  const RateInterval half = blockErrorInterval(50000, 100000);
  EXPECT_NEAR(half.lower, 0.5 - 1.959964 * std::sqrt(0.25 / 100000), 1e-5);
  EXPECT_NEAR(half.upper, 0.5 + 1.959964 * std::sqrt(0.25 / 100000), 1e-5);
  EXPECT_TRUE(std::isnan(blockErrorInterval(0, 0).lower));
}

// Blocks of 100 symbols, `wrong` of them wrong in each of `blockErrors` blocks out of `blocks`.
PointCounters counters(std::int64_t blocks, std::int32_t blockErrors, std::int64_t wrong) {
  return {blocks, blockErrors, blocks * 100, blockErrors * wrong, blockErrors * wrong * wrong};
}

TEST(ErrorRateIntervals, SerOfRareAlikeBlockErrorsIsTheExactPoissonIntervalScaled) {
  // Poisson 95 % limits for k events, from tables.
  const struct {
    int k;
    double lower;
    double upper;
  } table[] = {{1, 0.0253, 5.5716},
               {2, 0.2422, 7.2247},
               {3, 0.6187, 8.7673},
               {5, 1.6235, 11.6683},
               {10, 4.7954, 18.3904}};
  constexpr std::int64_t blocks = 1000000000;
  for (const auto& row : table) {
    for (const std::int64_t wrong : {1, 7}) {
      SCOPED_TRACE(std::to_string(row.k) + " blocks of " + std::to_string(wrong));
      const RateInterval ser = symbolErrorInterval(counters(blocks, row.k, wrong));
      const double scale = static_cast<double>(wrong) / (blocks * 100.0);
      EXPECT_NEAR(ser.lower / scale, row.lower, 1e-4);
      EXPECT_NEAR(ser.upper / scale, row.upper, 1e-4);
    }
  }
}

TEST(ErrorRateIntervals, SerWithoutErrorsOrWithAllWrongStaysWithinItsBounds) {
  // No error: the FER's one-sided bound, since a block holds at most all its symbols wrong.
  const PointIntervals none = pointIntervals(counters(20, 0, 0));
  EXPECT_EQ(none.ser, none.fer);
  EXPECT_EQ(none.ser.lower, 0.0);
  EXPECT_NEAR(std::pow(1 - none.ser.upper, 20), 0.05, 1e-12);
  // Every symbol wrong: the upper bound is 1, the lower bound close below it.
  const RateInterval all = symbolErrorInterval(counters(50, 50, 100));
  EXPECT_EQ(all.upper, 1.0);
  EXPECT_GT(all.lower, 0.95);
  EXPECT_LT(all.lower, 1.0);
  // Counts that vary hold their rate, and the spread widens the interval.
  PointCounters even = counters(1000, 40, 10);
  PointCounters spread = even;
  spread.squaredSymbolErrors = 40 * 200;  // the same 400 errors, unevenly over the blocks
  const RateInterval narrow = symbolErrorInterval(even);
  const RateInterval wide = symbolErrorInterval(spread);
  EXPECT_LT(wide.lower, narrow.lower);
  EXPECT_GT(wide.upper, narrow.upper);
  EXPECT_LT(narrow.lower, 400.0 / 100000);
  EXPECT_GT(narrow.upper, 400.0 / 100000);
  EXPECT_TRUE(std::isnan(symbolErrorInterval(PointCounters{}).upper));
}

}  // namespace
}  // namespace nbsim
