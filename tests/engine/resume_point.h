// Test support: the state of a point after its first blocks, as a run interrupted there leaves it,
// from the plain reference path and a plain walk over the channel's draws.
#pragma once

#include <cstdint>

#include "bench/random_points.h"
#include "channel/shift_xor_generator.h"
#include "engine/point_result.h"

namespace nbsim::testing {

// The first `blocks` blocks of the point at P0 with the run seed `seed`: their counts, and the
// draws they take, one for each symbol and one more for the value of each corrupted symbol.
inline PointState stateAfter(const NonBinaryCodec& codec, const PointLimits& limits,
                             std::int32_t seed, float P0, std::int64_t blocks) {
  const std::int64_t symbolsPerBlock = static_cast<std::int64_t>(codec.nk()) * codec.blockLength();
  const PointLimits cut{static_cast<std::uint64_t>(blocks * symbolsPerBlock), limits.minBlockErr};
  PointState state;
  state.result = ReferencePointSimulator(codec, cut, seed).simulate(P0);
  ShiftXorGenerator generator;
  generator.init(seed);
  const std::int64_t symbols =
      blocks * static_cast<std::int64_t>(codec.nk() + codec.nr()) * codec.blockLength();
  for (std::int64_t s = 0; s < symbols; ++s) {
    ++state.nextDraw;
    if (ShiftXorGenerator::toUniform(generator.nextInt()) <= static_cast<double>(P0)) {
      generator.nextInt();
      ++state.nextDraw;
    }
  }
  return state;
}

inline PointState stateAfter(const RandomPoint& point, const NonBinaryCodec& codec,
                             std::int64_t blocks) {
  return stateAfter(codec, {point.parameters.volume, point.parameters.minBlockErr}, point.seed,
                    point.P0, blocks);
}

}  // namespace nbsim::testing
