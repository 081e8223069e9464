// The bound that turns the channel's uniform comparison into an integer one, and the start of a
// point's error patterns.
#include "channel/error_pattern_source.h"

#include <algorithm>
#include <bit>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace nbsim {

namespace {

// Bit k: draws[k] <= bound, for k < count <= 64.
std::uint64_t marksAtOrBelow(const std::int32_t* draws, std::int64_t count, std::int32_t bound) {
  if (bound < 0) return 0;  // no draw is negative
  if (bound >= 2147483647) return count == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << count) - 1;
  std::uint64_t marks = 0;
  std::int64_t k = 0;
#if defined(__SSE2__)
  // Sixteen draws a step, their comparisons packed to bytes; bound + 1 does not overflow here.
  const __m128i limit = _mm_set1_epi32(bound + 1);
  const auto below = [draws, limit](std::int64_t at) {
    return _mm_cmplt_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(draws + at)), limit);
  };
  for (; count - k >= 16; k += 16) {
    const __m128i low = _mm_packs_epi32(below(k), below(k + 4));
    const __m128i high = _mm_packs_epi32(below(k + 8), below(k + 12));
    marks |= static_cast<std::uint64_t>(
                 static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_packs_epi16(low, high))))
             << k;
  }
#endif
  for (; k < count; ++k) {
    if (draws[k] <= bound) marks |= std::uint64_t{1} << k;
  }
  return marks;
}

}  // namespace

SymbolParse parseSymbols(const std::int32_t* draws, std::int64_t from, std::int64_t to,
                         std::int32_t bound) {
  SymbolParse parse{0, from};
  std::int64_t& p = parse.next;
  while (p < to) {
    const std::int64_t count = std::min<std::int64_t>(64, to - p);
    const std::uint64_t marks = marksAtOrBelow(draws + p, count, bound);
    // The symbols of the word: a run of draws above the bound, one symbol each, then a marked
    // draw whose symbol takes the draw after it too.
    std::int64_t q = 0;
    while (q < count) {
      const std::uint64_t rest = marks >> q;
      if (rest == 0) {
        parse.symbols += count - q;
        q = count;
        break;
      }
      const auto above = static_cast<std::int64_t>(std::countr_zero(rest));
      parse.symbols += above + 1;
      q += above + 2;
    }
    p += q;
  }
  return parse;
}

std::int32_t corruptionBound(float P0) {
  // The quotient of a correctly rounded division grows (not strictly) with its numerator, so the
  // outputs at or below P0 form a prefix 0..bound; bisection finds its end by the very division
  // the channel makes, whatever rounding does near P0.
  const double threshold = static_cast<double>(P0);
  std::int64_t below = -1;            // the largest output known to pass (-1: none yet)
  std::int64_t above = 2147483648LL;  // the smallest output known to fail (2^31: none)
  while (above - below > 1) {
    const std::int64_t middle = below + (above - below) / 2;
    if (ShiftXorGenerator::toUniform(static_cast<std::int32_t>(middle)) <= threshold) {
      below = middle;
    } else {
      above = middle;
    }
  }
  return static_cast<std::int32_t>(below);
}

ErrorPatternSource::ErrorPatternSource(DrawStreamCache& cache, std::int32_t Q, bool wideMarks)
    : cursor_(cache, wideMarks), otherValues_(static_cast<std::uint32_t>(Q) - 1) {}

void ErrorPatternSource::startPoint(float P0, std::int64_t firstDraw) {
  if (firstDraw == 0) {
    cursor_.restart();
  } else {
    cursor_.seek(firstDraw);
  }
  bound_ = corruptionBound(P0);
}

}  // namespace nbsim
