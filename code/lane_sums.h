// Sums of eight 16-bit lanes read at a list of offsets: the fast decoder's counts of non-zero
// votes and its whole syndrome sums. Vector code only; read by the decoder's source files alone.
#pragma once

#include "code/vector_support.h"

#if NBSIM_VECTOR_DECODER
#include <cstdint>

namespace nbsim {

// `sum` plus the eight 16-bit lanes at base + offsets[k] for every offset up to `end`; `fixed`
// > 0: exactly that many offsets, a constant so that the loop unrolls. Two sums, so that
// consecutive additions do not wait for each other.
template <std::int32_t fixed>
[[gnu::always_inline]] inline __m128i addLanesAt(__m128i sum, const std::int16_t* base,
                                                 const std::int32_t* offsets,
                                                 const std::int32_t* end) {
  const auto load = [base](std::int32_t offset) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(base + offset));
  };
  __m128i other = _mm_setzero_si128();
  if constexpr (fixed > 0) {
#pragma GCC unroll 16
    for (std::int32_t k = 0; k + 1 < fixed; k += 2) {
      sum = _mm_add_epi16(sum, load(offsets[k]));
      other = _mm_add_epi16(other, load(offsets[k + 1]));
    }
    if (fixed % 2 != 0) sum = _mm_add_epi16(sum, load(offsets[fixed - 1]));
  } else {
    for (; end - offsets >= 2; offsets += 2) {
      sum = _mm_add_epi16(sum, load(offsets[0]));
      other = _mm_add_epi16(other, load(offsets[1]));
    }
    if (offsets != end) sum = _mm_add_epi16(sum, load(*offsets));
  }
  return _mm_add_epi16(sum, other);
}

}  // namespace nbsim
#endif
