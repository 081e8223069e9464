// The P0 values of a sweep, in order.
#pragma once

#include <cstdint>

#include "engine/point_result.h"
#include "engine/run_parameters.h"

namespace nbsim {

class SweepPoints {
 public:
  // P0_first, then P0 - P0_step (computed in double, stored as float) while the double
  // difference stays at or above P0_last; nothing when P0_first < P0_last (or either is NaN).
  explicit SweepPoints(const RunParameters& parameters)
      : P0_(parameters.P0_first),
        step_(parameters.P0_step),
        last_(parameters.P0_last),
        more_(parameters.P0_first >= parameters.P0_last) {}

  // What an interrupted run left of the points; `states` must outlive every copy of this object.
  void resumeFrom(const ResumePoints* states) { states_ = states; }
  // Where point `index` stood when the run was interrupted: done, or the state to go on from;
  // null for a point to simulate from its first block.
  const PointState* state(std::int64_t index) const {
    if (states_ == nullptr) return nullptr;
    const auto found = states_->find(index);
    return found == states_->end() ? nullptr : &found->second;
  }

  // The next P0 through `P0`; false when the sweep is over.
  bool next(float& P0) {
    if (!more_) return false;
    P0 = P0_;
    // The test compares the double difference before it is rounded to the float P0.
    const double difference = static_cast<double>(P0_) - step_;
    P0_ = static_cast<float>(difference);
    more_ = difference >= last_;
    return true;
  }

 private:
  float P0_;
  double step_;
  double last_;
  bool more_;
  const ResumePoints* states_ = nullptr;
};

}  // namespace nbsim
