// The channel's own pseudo-random generator: two 32-bit state words advanced by shifts, XORs and
// masks, six steps per draw. Independent of the source generator.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace nbsim {

class ShiftXorGenerator {
 public:
  // Starts the sequence of `seed`: masks 0x1FFFFF and 0x7FFFFFFF, s1 = seed bit for bit,
  // s2 = 7799. Only the low 21 bits of the seed matter. Callable again at any time.
  void init(std::int32_t seed);

  // One draw (six steps); returns the new s2, 0..2147483647.
  std::int32_t nextInt();

  // The next `count` draws into draws[0 .. count - 1], as nextInt would give them one by one;
  // the state stays in registers meanwhile.
  void fill(std::int32_t* draws, std::size_t count);

  // A given number of draws as one map of the state. The step only shifts, XORs and masks, so
  // it is linear over the 64 state bits (s1 low, s2 high), and so is any number of draws: the
  // map is kept as the images of the 64 unit states.
  class Jump {
   public:
    // The map of `draws` draws, by repeated squaring of the map of one.
    explicit Jump(std::uint64_t draws);
    std::uint64_t apply(std::uint64_t state) const;

   private:
    Jump() = default;
    std::array<std::uint64_t, 64> images_{};
  };

  // Moves on by the draws of `jump` without making them.
  void skip(const Jump& jump) {
    const std::uint64_t next = jump.apply(state());
    s1_ = static_cast<std::uint32_t>(next);
    s2_ = static_cast<std::uint32_t>(next >> 32);
  }

  // The next 4 * perLane draws into draws[0 .. 4 * perLane - 1], as fill would give them:
  // four stretches of perLane draws generated side by side, each lane started where the
  // previous one ends by `jump`, which must be Jump(perLane).
  void fillInFourLanes(std::int32_t* draws, std::size_t perLane, const Jump& jump);

  // One draw; returns s2 / maskB as one double division, a value in [0, 1].
  double uniform() { return toUniform(nextInt()); }

  // The uniform value of a drawn s2 (0..2147483647): s2 / 2147483647 as one double division.
  static double toUniform(std::int32_t drawn) {
    // Narrowing either operand or the quotient to float would shift the comparison with P0 and
    // change which symbols are corrupted.
    return static_cast<double>(drawn) / 2147483647.0;
  }

 private:
  std::uint64_t state() const { return s1_ | (std::uint64_t{s2_} << 32); }

  std::uint32_t maskA_ = 0;
  std::uint32_t maskB_ = 0;
  std::uint32_t s1_ = 0;
  std::uint32_t s2_ = 0;
};

}  // namespace nbsim
