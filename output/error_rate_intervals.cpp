// The intervals, with the beta and gamma quantiles of Boost.Math.
#include "output/error_rate_intervals.h"

#include <algorithm>
#include <boost/math/policies/policy.hpp>
#include <boost/math/special_functions/beta.hpp>
#include <boost/math/special_functions/gamma.hpp>
#include <cmath>
#include <limits>

namespace nbsim {
namespace {

// No exception leaves the quantiles: a value they cannot give comes back as not-a-number or
// infinity, which the callers' arguments never ask for.
using Quiet = boost::math::policies::policy<
    boost::math::policies::domain_error<boost::math::policies::ignore_error>,
    boost::math::policies::pole_error<boost::math::policies::ignore_error>,
    boost::math::policies::overflow_error<boost::math::policies::ignore_error>,
    boost::math::policies::evaluation_error<boost::math::policies::ignore_error>>;

constexpr double tail = (1.0 - intervalConfidence) / 2;  // of a two-sided interval
constexpr double nan = std::numeric_limits<double>::quiet_NaN();

// The quantile at `p` of the gamma distribution with `shape` and `scale`.
double gammaQuantile(double shape, double scale, double p) {
  return boost::math::gamma_p_inv(shape, p, Quiet()) * scale;
}

}  // namespace

RateInterval blockErrorInterval(std::int64_t blockErrors, std::int64_t blocks) {
  if (blocks <= 0) return {nan, nan};
  const auto n = static_cast<double>(blocks);
  // One-sided, 1 - (1 - upper)^n = confidence.
  if (blockErrors == 0) return {0.0, -std::expm1(std::log(1.0 - intervalConfidence) / n)};
  if (blockErrors == blocks) return {std::exp(std::log(tail) / n), 1.0};
  const auto k = static_cast<double>(blockErrors);
  return {boost::math::ibeta_inv(k, n - k + 1, tail, Quiet()),
          boost::math::ibeta_inv(k + 1, n - k, 1 - tail, Quiet())};
}

RateInterval symbolErrorInterval(const PointCounters& counters) {
  if (counters.blocks <= 0) return {nan, nan};
  const RateInterval fer = blockErrorInterval(counters.blockErrors, counters.blocks);
  if (counters.symbolErrors == 0) return fer;
  const auto n = static_cast<double>(counters.blocks);
  const auto y = static_cast<double>(counters.symbolErrors);
  // The mean count of an erroneous block, and the counts' squared deviations from their mean.
  const double w = y / static_cast<double>(counters.blockErrors);
  const double v = std::max(static_cast<double>(counters.squaredSymbolErrors) - y * (y / n), w * w);
  const auto symbols = static_cast<double>(counters.infoSymbols);
  const double lower = gammaQuantile(y * y / v, v / y, tail);
  const double upper =
      gammaQuantile((y + w) * (y + w) / (v + w * w), (v + w * w) / (y + w), 1 - tail);
  return {lower / symbols, std::min(upper / symbols, 1.0)};
}

PointIntervals pointIntervals(const PointCounters& counters) {
  return {symbolErrorInterval(counters), blockErrorInterval(counters.blockErrors, counters.blocks)};
}

}  // namespace nbsim
