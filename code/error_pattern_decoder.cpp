#include "code/error_pattern_decoder.h"

#include <algorithm>
#include <limits>
#include <map>

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

ErrorPatternDecoder::ErrorPatternDecoder(const NonBinaryCodec& codec, DecoderVariant variant)
    : block_(codec, DecoderPasses::takeBytes(codec, variant)),
      builder_(codec, block_, variant),
      passes_(codec, block_, variant) {
  // Blocks that no pass can correct. Without information errors every decision and difference
  // is 0 and the syndrome is that of the check errors; a pass corrects only a symbol whose count
  // of non-zero checks m reaches (J + threshold + 3) / 2 (see DecoderPasses::runPass), and
  // while nothing is corrected the block stays as it is for every pass. A check error makes one
  // syndrome symbol non-zero, which counts once for each tap of (i, v) that reads it: with N
  // check errors m <= N r(i), r(i) the most taps of one value in a polynomial of branch i.
  const CodeDescription& code = codec.code();
  const std::vector<std::int32_t>& thresholds = codec.schedule().threshold;
  const std::int32_t lowest = *std::min_element(thresholds.begin(), thresholds.end());
  idleCheckErrors_ = std::numeric_limits<std::int32_t>::max();
  for (std::int32_t i = 0; i < code.nk; ++i) {
    std::int32_t repeats = 0;
    for (std::int32_t v = 0; v < code.nr; ++v) {
      std::map<std::int32_t, std::int32_t> taps;
      for (std::int32_t t : code.polynomials[i][v].taps) repeats = std::max(repeats, ++taps[t]);
    }
    // Without taps a symbol has m = 0 and is never corrected.
    if (repeats == 0) continue;
    const std::int32_t needed = (block_.checks[i] + lowest + 3) / 2;
    idleCheckErrors_ = std::min(idleCheckErrors_, (needed - 1) / repeats);
  }
}

void ErrorPatternDecoder::startBlock() {
  if (clean_) return;
  block_.clear();
  builder_.clear();
  clean_ = true;
}

std::int32_t ErrorPatternDecoder::decodeBlock(IterationStats& stats) {
  stats.decodedSymbols += static_cast<std::int64_t>(block_.layout.nk()) * block_.layout.L();
  if (builder_.informationErrors() == 0 && builder_.checkErrors() <= idleCheckErrors_) {
    // Nothing is wrong before or after any pass: every count gains 0. The syndrome is left as
    // it was, which the builder knows.
    builder_.clear();
    return 0;
  }
  builder_.build(block_);
  stats.errors[0] += block_.wrong;
  if (!passes_.run(block_, stats.errors.data())) return -1;
  return block_.wrong;
}

}  // namespace nbsim
