// One P0 point on the fast path: the error patterns of the shared draw stream decoded by the
// error-pattern decoder, with the same counts as the reference path. The code is linear and
// the channel's draws do not depend on the symbols, so each block is simulated as its error
// pattern alone.
#pragma once

#include <cstdint>

#include "channel/draw_stream.h"
#include "channel/error_pattern_source.h"
#include "code/error_pattern_decoder.h"
#include "code/nonbinary_codec.h"
#include "engine/point_simulator.h"

namespace nbsim {

class FastPointSimulator : public PointSimulator {
 public:
  // `codec` gives the code, the schedule (which ErrorPatternDecoder must support), L and Q;
  // `cache` the stream of the run's channel seed. Both must outlive the simulator. `variant`:
  // the decoder's code, one of availableDecoderVariants().
  FastPointSimulator(const NonBinaryCodec& codec, const PointLimits& limits, DrawStreamCache& cache,
                     DecoderVariant variant = chosenDecoderVariant());

  using PointSimulator::simulate;
  bool simulate(float P0, PointResult& result, const StopRequest& stop = {},
                PointProgress* progress = nullptr, const PointState* from = nullptr) override;

 private:
  PointLimits limits_;
  std::int32_t nk_;
  std::int32_t nr_;
  std::int32_t itert_;
  ErrorPatternSource source_;
  ErrorPatternDecoder decoder_;
};

}  // namespace nbsim
