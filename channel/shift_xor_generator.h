// The channel's own pseudo-random generator: two 32-bit state words advanced by shifts, XORs and
// masks, six steps per draw. Independent of the source generator.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace nbsim {

// How stretches of draws are made: by the plain generator, or by many generators side by side
// in the words of 128-bit vectors (SSE2, every x86-64), 256-bit (AVX2) or 512-bit (AVX-512), the
// last two chosen at run time where the processor has them. Every variant gives the same draws.
enum class DrawVariant { plain, sse2, avx2, avx512 };

// The variants this build can run on this processor, the fastest last.
std::vector<DrawVariant> availableDrawVariants();

// The variant stretches of draws take unless told otherwise: the fastest available, or the one
// that NBSIM_DRAW_VARIANT names (plain, sse2, avx2 or avx512) when it is available.
DrawVariant chosenDrawVariant();

const char* drawVariantName(DrawVariant variant);

// The stretches a variant makes side by side: 1, 16, 32 or 64 (four vectors at once).
std::size_t drawLanes(DrawVariant variant);

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
    // The map of twice as many draws.
    Jump twice() const;

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

  // The next drawLanes(variant) * perLane draws into draws[0 ..], as fill would give them: as
  // many stretches of perLane draws generated side by side, each lane started where the previous
  // one ends by `jump`, which must be Jump(perLane); `variant` must be available.
  void fillInLanes(std::int32_t* draws, std::size_t perLane, const Jump& jump, DrawVariant variant);

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

// Makes stretches of one length, `count` draws, as fill would, in as many lanes as the variant
// has and the length divides into: the jump between the lanes is worked out once here.
class LaneFill {
 public:
  explicit LaneFill(std::size_t count, DrawVariant widest = chosenDrawVariant());

  // The next count() draws of `generator` into draws[0 .. count() - 1].
  void operator()(ShiftXorGenerator& generator, std::int32_t* draws) const;

  std::size_t count() const { return count_; }
  // The variant taken: a narrower one than asked when the length does not divide into as many
  // stretches of at least sixteen draws.
  DrawVariant variant() const { return variant_; }

 private:
  std::size_t count_;
  DrawVariant variant_;
  ShiftXorGenerator::Jump jump_;  // the draws of one lane
};

}  // namespace nbsim
