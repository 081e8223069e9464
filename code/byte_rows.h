// Adding a value along the checks of one information symbol of a block in bytes, row by row: the
// symbol's checks in row v are the lanes of a mask that the block keeps per pair (i, v)
// (DecoderBlock::tapRows), so every check and its mirror take one masked addition modulo Q, 32
// symbols a step. They run only where the processor has AVX2; read by the decoder's source files
// alone, and only where vector_support.h sets NBSIM_WIDE_DECODER.
#pragma once

#include "code/vector_support.h"

#if NBSIM_WIDE_DECODER
#include <array>
#include <cstddef>
#include <cstdint>
#include <utility>

#include "code/decoder_block.h"

namespace nbsim::rows {

// Adds x (1..Q-1) to every syndrome symbol of `block` (rowAdds, with `steps` steps a row) that
// checks information symbol (i, c), and to its mirror; returns whether one of them went from zero
// to non-zero. `wholeByte`: Q = 256, whose wrap is a byte's own.
template <bool wholeByte, std::int32_t steps>
NBSIM_AVX2 bool addAlongRows(DecoderBlock& block, std::int32_t i, std::int32_t c, std::uint32_t x) {
  const DecoderLayout& layout = block.layout;
  const std::int32_t nr = layout.nr();
  const __m256i zero = _mm256_setzero_si256();
  const __m256i value = _mm256_set1_epi8(static_cast<char>(x));
  const __m256i modulus = _mm256_set1_epi8(static_cast<char>(block.Q));
  const __m256i lastLanes =
      _mm256_loadu_si256(reinterpret_cast<const __m256i*>(block.lastStepLanes.data()));
  __m256i raised = zero;
  const std::uint8_t* masks = block.tapRows.data() +
                              static_cast<std::ptrdiff_t>(i) * nr * block.tapRowLength +
                              (layout.L() - c);
  std::uint8_t* row = &block.syndromeBytes[layout.syndrome(0, 0)];
  const std::ptrdiff_t rowStride = layout.syndrome(1, 0) - layout.syndrome(0, 0);
  for (std::int32_t v = 0; v < nr; ++v, masks += block.tapRowLength, row += rowStride) {
#pragma GCC unroll 8
    for (std::int32_t k = 0; k < steps; ++k) {
      __m256i mask = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(masks + 32 * k));
      if (k == steps - 1) mask = _mm256_and_si256(mask, lastLanes);
      __m256i* const at = reinterpret_cast<__m256i*>(row + 32 * k);
      const __m256i before = _mm256_loadu_si256(at);
      const __m256i added = _mm256_and_si256(mask, value);
      __m256i after;
      if constexpr (wholeByte) {
        after = _mm256_add_epi8(before, added);
      } else {
        // before + added >= Q exactly where before >= Q - added; lanes outside the mask add 0,
        // and before < Q there.
        const __m256i rest = _mm256_sub_epi8(modulus, added);
        const __m256i wraps = _mm256_cmpeq_epi8(_mm256_max_epu8(before, rest), before);
        after = _mm256_blendv_epi8(_mm256_add_epi8(before, added), _mm256_sub_epi8(before, rest),
                                   wraps);
      }
      _mm256_storeu_si256(at, after);
      raised = _mm256_or_si256(raised, _mm256_and_si256(_mm256_cmpeq_epi8(before, zero), mask));
    }
  }
  return _mm256_testz_si256(raised, raised) == 0;
}

using RowAdd = bool (*)(DecoderBlock&, std::int32_t, std::int32_t, std::uint32_t);

// Rows of up to eight steps, 2L <= 256.
constexpr std::int32_t largestSteps = 8;

template <bool wholeByte, std::size_t... steps>
constexpr std::array<RowAdd, sizeof...(steps)> makeRowAdds(std::index_sequence<steps...>) {
  return {&addAlongRows<wholeByte, static_cast<std::int32_t>(steps) + 1>...};
}

// rowAdds[wholeByte][steps - 1].
inline constexpr std::array<std::array<RowAdd, largestSteps>, 2> rowAdds = {
    makeRowAdds<false>(std::make_index_sequence<largestSteps>()),
    makeRowAdds<true>(std::make_index_sequence<largestSteps>())};

}  // namespace nbsim::rows
#endif
