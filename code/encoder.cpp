// The encoder's sums.
#include "code/encoder.h"

namespace nbsim {

void encode(const NonBinaryCodec& codec, const BranchTable& info, BranchTable& checks) {
  const std::int32_t L = codec.blockLength();
  for (std::int32_t a = 0; a < L; ++a) {
    for (std::int32_t v = 0; v < codec.nr(); ++v) {
      // 64-bit sums stay exact for any Q and any number of taps; reduced once at the end.
      std::int64_t sum = 0;
      for (std::int32_t i = 0; i < codec.nk(); ++i) {
        // Every tap is below L, so a + t wraps at most once.
        for (std::int32_t t : codec.taps(i, v)) sum += info[i][(a + t) % L];
      }
      checks[v][a] = static_cast<Symbol>(sum % codec.alphabetSize());
    }
  }
}

}  // namespace nbsim
