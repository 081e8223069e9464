// The source of information symbols and of the run seed: a 32-bit linear congruential generator
// returning bits 16..30 of each new state.
#pragma once

#include <cstdint>

namespace nbsim {

class SourceGenerator {
 public:
  // Sets the state.
  void seed(std::uint32_t state) { state_ = state; }

  // Moves on by `draws` draws without making them: the step is affine, and so is any number of
  // steps, composed by repeated squaring.
  void skip(std::uint64_t draws) {
    std::uint32_t multiplier = 214013u;
    std::uint32_t increment = 2531011u;
    for (; draws != 0; draws >>= 1) {
      if (draws & 1u) state_ = state_ * multiplier + increment;
      increment = increment * multiplier + increment;
      multiplier *= multiplier;
    }
  }

  // state := state x 214013 + 2531011 mod 2^32; returns bits 16..30 of it, 0..32767.
  std::int32_t draw() {
    state_ = state_ * 214013u + 2531011u;
    return static_cast<std::int32_t>((state_ >> 16) & 0x7FFFu);
  }

 private:
  std::uint32_t state_ = 0;
};

}  // namespace nbsim
