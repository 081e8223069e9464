#include "code/error_pattern_decoder.h"

namespace nbsim {

bool ErrorPatternDecoder::supports(const NonBinaryCodec& codec) {
  const std::int32_t nk = codec.code().nk;
  const std::int32_t nr = codec.code().nr;
  const IterationSchedule& schedule = codec.schedule();
  for (std::int32_t k = 0; k < schedule.iterations(); ++k) {
    if (schedule.threshold[k] < 0 || schedule.threshold[k] > DecoderPasses::largestThreshold ||
        schedule.diffWeight[k] != 1 || schedule.checkBranchesUsed[k] != nr ||
        schedule.infoBranchesUsed[k] != nk) {
      return false;
    }
  }
  return codec.maxChecks() <= DecoderPasses::largestChecks;
}

ErrorPatternDecoder::ErrorPatternDecoder(const NonBinaryCodec& codec)
    : block_(codec), builder_(codec, block_), passes_(codec, block_) {}

void ErrorPatternDecoder::startBlock() {
  if (clean_) return;
  block_.clear();
  builder_.clear();
  clean_ = true;
}

std::int32_t ErrorPatternDecoder::decodeBlock(IterationStats& stats) {
  builder_.build(block_);
  stats.decodedSymbols += static_cast<std::int64_t>(block_.layout.nk()) * block_.layout.L();
  stats.errors[0] += block_.wrong;
  if (!passes_.run(block_, stats.errors.data())) return -1;
  return block_.wrong;
}

}  // namespace nbsim
