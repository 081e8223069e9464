// What the engine gives out: each P0 point's counters, the decoder's statistics and the decoded
// symbol error rate, and how the sweep ended.
#pragma once

#include <cstdint>

#include "code/iteration_stats.h"

namespace nbsim {

// Counters of one P0 point.
struct PointCounters {
  std::int64_t blocks = 0;
  std::int32_t blockErrors = 0;
  std::int64_t infoSymbols = 0;
  std::int64_t symbolErrors = 0;
  // The sum over blocks of the square of each block's wrongly decoded information symbols: with
  // symbolErrors, the spread of the errors between blocks, which the symbol error rate's
  // confidence interval needs because the errors within one block are not independent.
  std::int64_t squaredSymbolErrors = 0;

  bool operator==(const PointCounters&) const = default;
};

struct PointResult {
  float P0 = 0.0f;
  PointCounters counters;
  IterationStats stats;
  // symbolErrors / infoSymbols in double, counting at least one error, so that it is never 0.
  double ser = 0.0;

  bool operator==(const PointResult&) const = default;
};

// How a sweep ended.
enum class SweepOutcome {
  completed,    // every point simulated and handed on
  interrupted,  // a signal ended it; every point before was handed on
  refused,      // the receiver refused a point (the report could not take it); the sweep stopped
  failed,       // the simulation stopped on an error (out of memory, say); every point before
                // was handed on
};

}  // namespace nbsim
