// The systematic encoder: each check symbol is a sum modulo Q of information symbols picked by
// the generator polynomials.
#include "code/nonbinary_codec.h"

namespace nbsim {

void NonBinaryCodec::encode(const BranchTable& info, BranchTable& checks) const {
  const std::int32_t L = blockLength_;
  for (std::int32_t a = 0; a < L; ++a) {
    for (std::int32_t v = 0; v < code_.nr; ++v) {
      // 64-bit sums stay exact for any Q and any number of taps; reduced once at the end.
      std::int64_t sum = 0;
      for (std::int32_t i = 0; i < code_.nk; ++i) {
        // Every tap is below L, so a + t wraps at most once.
        for (std::int32_t t : taps(i, v)) sum += info[i][(a + t) % L];
      }
      checks[v][a] = static_cast<Symbol>(sum % Q_);
    }
  }
}

}  // namespace nbsim
