// The 95 % confidence intervals of a point's block and symbol error rates, from its counters.
//
// Blocks are independent, the symbol errors within one block are not (a decoder that fails
// leaves many of a block's symbols wrong at once), so both intervals are built over blocks:
// - FER: the exact binomial (Clopper-Pearson) interval of blockErrors in blocks.
// - SER: the symbol errors are a sum over blocks of each block's count; its spread is measured
//   from the sum of squared counts, and the sum is taken as gamma distributed with that mean and
//   spread (the gamma interval for weighted counts of Fay and Feuer). The upper bound adds one
//   more erroneous block of the mean count, as the exact Poisson bound adds one more event; with
//   every block's count the same, it reduces to that Poisson interval scaled by the count. The
//   spread is taken as at least that of one such block, so that blocks which all came out alike
//   still leave an interval.
// A point without any error has a one-sided 95 % upper bound and a lower bound of 0; its SER
// bound is the FER bound, since a block holds at most all its symbols wrong. A point without any
// block has not-a-number bounds.
#pragma once

#include <cstdint>

#include "engine/point_result.h"

namespace nbsim {

// The confidence of every interval.
inline constexpr double intervalConfidence = 0.95;

// A rate's interval: lower <= rate <= upper.
struct RateInterval {
  double lower = 0.0;
  double upper = 0.0;

  bool operator==(const RateInterval&) const = default;
};

struct PointIntervals {
  RateInterval ser;
  RateInterval fer;
};

// The block error rate's interval for `blockErrors` wrong blocks of `blocks`; expects
// 0 <= blockErrors <= blocks.
RateInterval blockErrorInterval(std::int64_t blockErrors, std::int64_t blocks);

// The symbol error rate's interval from the counters (blocks, blockErrors, infoSymbols,
// symbolErrors, squaredSymbolErrors), as a fraction of the information symbols.
RateInterval symbolErrorInterval(const PointCounters& counters);

// Both.
PointIntervals pointIntervals(const PointCounters& counters);

}  // namespace nbsim
