// The bound that turns the channel's uniform comparison into an integer one, and the start of a
// point's error patterns.
#include "channel/error_pattern_source.h"

namespace nbsim {

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
