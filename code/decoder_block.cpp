// The fast decoder's block: its taps and arrays.
#include "code/decoder_block.h"

#include <algorithm>

namespace nbsim {
namespace {

constexpr std::int64_t largestCheckTable = std::int64_t{1} << 20;

}  // namespace

DecoderBlock::DecoderBlock(const NonBinaryCodec& codec, bool bytes)
    : layout(codec.code().nk, codec.code().nr, codec.blockLength()),
      Q(static_cast<std::uint32_t>(codec.alphabetSize())),
      bytes(bytes) {
  const CodeDescription& code = codec.code();
  checks.assign(code.nk, 0);
  for (std::int32_t i = 0; i < code.nk; ++i) {
    tapStart.push_back(static_cast<std::int32_t>(informationTaps.size()));
    for (std::int32_t v = 0; v < code.nr; ++v) {
      for (std::int32_t t : code.polynomials[i][v].taps) {
        informationTaps.push_back({t, layout.syndrome(v, 0)});
        checkOffsets.push_back(layout.syndrome(v, layout.mirror() - t));
      }
    }
    checks[i] = static_cast<std::int32_t>(informationTaps.size()) - tapStart.back();
  }
  tapStart.push_back(static_cast<std::int32_t>(informationTaps.size()));
  // The table takes L entries per tap; beyond a few MiB, working each index out costs less than
  // the cache misses of reading it.
  const std::int64_t L = layout.L();
  const std::int64_t entries = L * static_cast<std::int64_t>(informationTaps.size());
  if (entries <= largestCheckTable) {
    checkIndices.reserve(static_cast<std::size_t>(entries));
    for (std::int32_t i = 0; i < code.nk; ++i) {
      checkStart.push_back(static_cast<std::int32_t>(checkIndices.size()));
      for (std::int32_t c = 0; c < layout.L(); ++c) {
        for (std::int32_t k = tapStart[i]; k < tapStart[i + 1]; ++k) {
          const std::int32_t j = c - informationTaps[k].t;
          checkIndices.push_back(informationTaps[k].base + (j < 0 ? j + layout.L() : j));
        }
      }
    }
  }
  decision.assign(layout.decisionSize(), 0);
  if (bytes) {
    syndromeBytes.assign(layout.syndromeSize(), 0);
    differenceBytes.assign(layout.changedSize(), 0);
    return;
  }
  difference.assign(layout.changedSize(), 0);
  syndrome.assign(layout.syndromeSize(), 0);
  nonzero.assign(layout.syndromeSize(), 0);
  changed.assign(layout.changedSize(), 0);
}

void DecoderBlock::clear() {
  // Only a wrong decision is non-zero: most blocks end with none.
  if (wrong != 0) std::fill(decision.begin(), decision.end(), 0);
  std::fill(difference.begin(), difference.end(), 0);
  std::fill(changed.begin(), changed.end(), 0);
  std::fill(differenceBytes.begin(), differenceBytes.end(), 0);
  wrong = 0;
}

}  // namespace nbsim
