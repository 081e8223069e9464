// What one P0 point of the sweep produces: its counters, the decoder's statistics and the
// decoded symbol error rate.
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

}  // namespace nbsim
