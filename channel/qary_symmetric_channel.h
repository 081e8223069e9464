// The Q-ary symmetric channel: replaces each symbol, independently with probability P0, by one
// of the other Q - 1 values.
#pragma once

#include "channel/channel.h"

namespace nbsim {

class QarySymmetricChannel : public Channel {
 public:
  // Stores Q, 2..2147483647.
  void setAlphabetSize(std::int32_t Q) { Q_ = Q; }

  // "\nВероятность ошибки в канале: P0=%6.2e\n" with P0.
  void writeParameters(text::ReportStream& report) const override;

  // For each symbol in order: u = uniform(); if u <= P0 (widened to double) the symbol gets
  // e = nextInt() mod (Q - 1) + 1 added modulo Q, otherwise it passes unchanged.
  void transmit(const Symbol* input, Symbol* output, std::int32_t count) override;

  // The channel heading, then "Q-ичный симметричный канал\n".
  void writeDescription(text::ReportStream& report) const override;

 private:
  std::int32_t Q_ = 2;
};

}  // namespace nbsim
