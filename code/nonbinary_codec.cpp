// The quantities that follow from the polynomials.
#include "code/nonbinary_codec.h"

#include <algorithm>

namespace nbsim {

NonBinaryCodec::NonBinaryCodec(const CodeDescription& code, std::int32_t Q, std::int32_t itert)
    : NonBinaryCodec(code, Q, IterationSchedule::standard(itert, code.nk, code.nr)) {}

NonBinaryCodec::NonBinaryCodec(const CodeDescription& code, std::int32_t Q,
                               const IterationSchedule& schedule)
    : code_(code), Q_(Q), schedule_(schedule) {
  // J(i), the checks on information branch i, decides the code distance and the vote table size.
  constexpr std::int32_t distanceStart = 10000;
  std::int32_t smallestChecks = distanceStart;
  std::int32_t largestTap = 0;
  for (std::int32_t i = 0; i < code_.nk; ++i) {
    std::int32_t checks = 0;
    for (std::int32_t v = 0; v < code_.nr; ++v) {
      checks += static_cast<std::int32_t>(taps(i, v).size());
      for (std::int32_t t : taps(i, v)) largestTap = std::max(largestTap, t);
    }
    smallestChecks = std::min(smallestChecks, checks);
    maxChecks_ = std::max(maxChecks_, checks);
  }
  codeDistance_ = smallestChecks + 1;
  blockLength_ = 2 * largestTap + 1;
}

}  // namespace nbsim
