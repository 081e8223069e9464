// The fast path's blocks.
#include "engine/fast_point_simulator.h"

namespace nbsim {

FastPointSimulator::FastPointSimulator(const NonBinaryCodec& codec, const PointLimits& limits,
                                       DrawStreamCache& cache, DecoderVariant variant)
    : limits_(limits),
      nk_(codec.nk()),
      nr_(codec.nr()),
      itert_(codec.itert()),
      source_(cache, codec.alphabetSize(), isWide(variant)),
      decoder_(codec, variant) {}

bool FastPointSimulator::simulate(float P0, PointResult& result, const StopRequest& stop,
                                  PointProgress* progress, const PointState* from) {
  result.P0 = P0;
  if (from) {
    result.counters = from->result.counters;
    result.stats = from->result.stats;
    if (progress) progress->publish(result.counters);
  } else {
    result.counters = PointCounters{};
    result.stats.reset(itert_);
  }
  source_.startPoint(P0, from ? from->nextDraw : 0);
  decoder_.watch(stop.forDecoder());
  const std::int32_t L = decoder_.blockLength();
  return runBlocks(limits_, static_cast<std::int64_t>(nk_) * L, result, stop, progress,
                   [this, L](IterationStats& stats) {
                     decoder_.startBlock();
                     // The channel's order: the information branches, then the check branches.
                     for (std::int32_t i = 0; i < nk_; ++i) {
                       source_.transmitZeros(L, [this, i](std::int64_t c, Symbol e) {
                         decoder_.addInformationError(i, static_cast<std::int32_t>(c), e);
                       });
                     }
                     for (std::int32_t v = 0; v < nr_; ++v) {
                       source_.transmitZeros(L, [this, v](std::int64_t j, Symbol e) {
                         decoder_.addCheckError(v, static_cast<std::int32_t>(j), e);
                       });
                     }
                     return static_cast<std::int64_t>(decoder_.decodeBlock(stats));
                   },
                   [this] { return source_.position(); });
}

}  // namespace nbsim
