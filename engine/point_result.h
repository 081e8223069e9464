// What the engine gives out: each P0 point's counters, the decoder's statistics and the decoded
// symbol error rate, and how the sweep ended.
#pragma once

#include <algorithm>
#include <cstdint>
#include <map>

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

  // Adds the counts of `more`, blocks that follow these.
  void add(const PointCounters& more) {
    blocks += more.blocks;
    blockErrors += more.blockErrors;
    infoSymbols += more.infoSymbols;
    symbolErrors += more.symbolErrors;
    squaredSymbolErrors += more.squaredSymbolErrors;
  }

  bool operator==(const PointCounters&) const = default;
};

// symbolErrors / infoSymbols in double, counting at least one error, so that it is never 0.
inline double symbolErrorRate(const PointCounters& counters) {
  const std::int64_t counted = std::max<std::int64_t>(counters.symbolErrors, 1);
  return static_cast<double>(counted) / static_cast<double>(counters.infoSymbols);
}

struct PointResult {
  float P0 = 0.0f;
  PointCounters counters;
  IterationStats stats;
  // symbolErrorRate(counters).
  double ser = 0.0;

  bool operator==(const PointResult&) const = default;
};

// Where a point of an interrupted run stood, to go on from there: either done, with its whole
// result, or between two blocks, with its counts so far (the symbol error rate is not set yet) and
// the draw of the channel's stream (0 is its first) where the next block starts.
struct PointState {
  PointResult result;
  std::int64_t nextDraw = 0;
  bool done = false;

  bool operator==(const PointState&) const = default;
};

// What is known of the points of an interrupted run, by their index in the sweep.
using ResumePoints = std::map<std::int64_t, PointState>;

// How a sweep ended.
enum class SweepOutcome {
  completed,    // every point simulated and handed on
  interrupted,  // a signal ended it; every point before was handed on
  refused,      // the receiver refused a point (the report could not take it); the sweep stopped
  failed,       // the simulation stopped on an error (out of memory, say); every point before
                // was handed on
};

}  // namespace nbsim
