// The channel's shift-XOR generator: two masked 32-bit words mixed by shifts and XORs, six steps
// per draw.
#include "channel/shift_xor_generator.h"

namespace nbsim {

void ShiftXorGenerator::init(std::int32_t seed) {
  maskA_ = 0x1FFFFFu;
  maskB_ = 0x7FFFFFFFu;
  // Two's-complement reinterpretation: a negative seed keeps its bit pattern.
  s1_ = static_cast<std::uint32_t>(seed);
  s2_ = 7799u;
}

void ShiftXorGenerator::step() {
  // Both new words are computed from the old ones; unsigned arithmetic drops the bits shifted
  // past bit 31.
  const std::uint32_t t = s1_ ^ s2_;
  s1_ = maskA_ & s2_;
  s2_ = maskB_ & ((s2_ >> 21) ^ (t << 10));
}

std::int32_t ShiftXorGenerator::nextInt() {
  for (int i = 0; i < 6; ++i) {
    step();
  }
  // maskB clears bit 31, so the value always fits a non-negative int32.
  return static_cast<std::int32_t>(s2_);
}

void ShiftXorGenerator::fill(std::int32_t* draws, std::size_t count) {
  const std::uint32_t maskA = maskA_;
  const std::uint32_t maskB = maskB_;
  std::uint32_t s1 = s1_;
  std::uint32_t s2 = s2_;
  for (std::size_t d = 0; d < count; ++d) {
#pragma GCC unroll 6
    for (int i = 0; i < 6; ++i) {
      const std::uint32_t t = s1 ^ s2;
      s1 = maskA & s2;
      s2 = maskB & ((s2 >> 21) ^ (t << 10));
    }
    draws[d] = static_cast<std::int32_t>(s2);
  }
  s1_ = s1;
  s2_ = s2;
}

}  // namespace nbsim
