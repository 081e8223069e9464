// The interface of every output that takes the sweep's points besides the report and the console:
// the CSV results and the plot. Each point reaches it once "result.txt" holds it, in sweep order.
#pragma once

#include "run/point_result.h"

namespace nbsim {

class PointReporter {
 public:
  virtual ~PointReporter() = default;
  // Takes the next point of the sweep.
  virtual void reportPoint(const PointResult& point) = 0;
};

}  // namespace nbsim
