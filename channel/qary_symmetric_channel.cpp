// The Q-ary symmetric channel: each symbol is replaced, with probability P0, by one of the other
// Q - 1 values chosen uniformly by the channel's generator.
#include "channel/qary_symmetric_channel.h"

namespace nbsim {

void QarySymmetricChannel::transmit(const Symbol* input, Symbol* output, std::int32_t count) {
  // The threshold is widened once; the comparison is made in double so that a P0 stored as float
  // decides exactly as the uniform draw is computed.
  const double threshold = static_cast<double>(P0_);
  const std::int32_t Q = Q_;
  const std::int32_t otherValues = Q - 1;
  for (std::int32_t i = 0; i < count; ++i) {
    const Symbol symbol = input[i];
    if (generator_.uniform() <= threshold) {
      // e is in 1..Q-1, so the sum stays below 2Q; subtracting Q when symbol >= Q - e keeps the
      // arithmetic inside int32 even for Q = 2147483647 and avoids a second division.
      const std::int32_t error = generator_.nextInt() % otherValues + 1;
      output[i] = symbol >= Q - error ? symbol - (Q - error) : symbol + error;
    } else {
      output[i] = symbol;
    }
  }
}

}  // namespace nbsim
