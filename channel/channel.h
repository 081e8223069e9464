// The channel interface: owns the channel's generator, holds P0 and the seed, and restarts the
// generator on request; a subclass supplies the corruption rule.
//
// The channel model is domain: it uses nothing of the program's own but the Symbol type of code/.
#pragma once

#include <cstdint>

#include "channel/shift_xor_generator.h"
#include "code/symbol.h"

namespace nbsim {

class Channel {
 public:
  virtual ~Channel() = default;

  // Passes `count` symbols from `input` to `output`, corrupting them by the channel's rule.
  // A count of 0 or less touches nothing and draws nothing.
  virtual void transmit(const Symbol* input, Symbol* output, std::int32_t count) = 0;

  // Restarts the generator at the start of the seed's sequence.
  void reseed() { generator_.init(seed_); }

  // Moves the generator on by `draws` draws without making them.
  void skipDraws(std::uint64_t draws) { generator_.skip(ShiftXorGenerator::Jump(draws)); }

  // Stores the symbol error probability used by every later transmit.
  void setErrorProbability(float P0) { P0_ = P0; }

  // Stores the seed that the next reseed passes to the generator.
  void setSeed(std::int32_t seed) { seed_ = seed; }
  std::int32_t seed() const { return seed_; }

 protected:
  ShiftXorGenerator generator_;
  float P0_ = 0.0f;
  std::int32_t seed_ = 0;
};

}  // namespace nbsim
