// The Q-ary symmetric channel: replaces each symbol, independently with probability P0, by one
// of the other Q - 1 values.
#pragma once

#include "channel/channel.h"

namespace nbsim {

class QarySymmetricChannel : public Channel {
 public:
  // A channel for an alphabet of Q symbols, 2..2147483647, with the seed for reseed; reseed
  // comes before the first transmit.
  QarySymmetricChannel(std::int32_t Q, std::int32_t seed) : Q_(Q) { setSeed(seed); }

  // For each symbol in order: u = uniform(); if u <= P0 (widened to double) the symbol gets
  // e = nextInt() mod (Q - 1) + 1 added modulo Q, otherwise it passes unchanged.
  void transmit(const Symbol* input, Symbol* output, std::int32_t count) override;

 private:
  std::int32_t Q_;
};

}  // namespace nbsim
