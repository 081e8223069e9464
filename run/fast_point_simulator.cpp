// The fast point loop.
#include "run/fast_point_simulator.h"

#include <algorithm>

namespace nbsim {

FastPointSimulator::FastPointSimulator(const RunParameters& parameters, const NonBinaryCodec& codec,
                                       DrawStreamCache& cache)
    : parameters_(parameters),
      itert_(codec.itert()),
      source_(cache, codec.alphabetSize()),
      decoder_(codec) {
  codec.branchCounts(nk_, nr_);
}

bool FastPointSimulator::simulate(float P0, PointResult& result, const StopRequest& stop,
                                  PointProgress* progress) {
  result.P0 = P0;
  result.stats.reset(itert_);
  PointCounters& counters = result.counters;
  counters = PointCounters{};
  source_.startPoint(P0);
  const std::int32_t L = decoder_.blockLength();
  const std::int64_t symbolsPerBlock = static_cast<std::int64_t>(nk_) * L;
  const auto volume = static_cast<std::int64_t>(parameters_.volume);

  if (parameters_.minBlockErr > 0) {
    do {
      // The volume test stands before the block, the block-error test after it.
      if (counters.infoSymbols >= volume) break;
      if (stop.raised()) return false;
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
      const std::int32_t wrong = decoder_.decodeBlock(result.stats);
      counters.infoSymbols += symbolsPerBlock;
      counters.symbolErrors += wrong;
      if (wrong > 0) ++counters.blockErrors;
      ++counters.blocks;
      if (progress) progress->publish(counters);
    } while (counters.blockErrors < parameters_.minBlockErr);
  }
  // At least one error is counted in the rate, so that it is never 0; the counter stays true.
  const std::int64_t counted = std::max<std::int64_t>(counters.symbolErrors, 1);
  result.ser = static_cast<double>(counted) / static_cast<double>(counters.infoSymbols);
  return true;
}

}  // namespace nbsim
