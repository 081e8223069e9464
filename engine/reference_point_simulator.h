// One P0 point on the plain reference path: the source's blocks encoded, sent through the
// Q-ary symmetric channel and decoded by the threshold decoder, exactly as the rules describe
// them. It is slow; every faster path is held to it.
#pragma once

#include <cstdint>

#include "channel/qary_symmetric_channel.h"
#include "code/nonbinary_codec.h"
#include "code/threshold_decoder.h"
#include "engine/point_simulator.h"

namespace nbsim {

class ReferencePointSimulator : public PointSimulator {
 public:
  // Points of `codec`'s code within `limits`, on the channel of the run seed `seed`; `codec`
  // must outlive the simulator.
  ReferencePointSimulator(const NonBinaryCodec& codec, const PointLimits& limits,
                          std::int32_t seed);

  using PointSimulator::simulate;
  // Every point starts the channel's generator from the seed and the source from 0, so every
  // point sees the same information blocks and the same stream of channel draws.
  bool simulate(float P0, PointResult& result, const StopRequest& stop = {},
                PointProgress* progress = nullptr, const PointState* from = nullptr) override;

 private:
  const NonBinaryCodec& codec_;
  PointLimits limits_;
  QarySymmetricChannel channel_;
  ThresholdDecoder decoder_;
};

}  // namespace nbsim
