// The channel's shift-XOR generator: two masked 32-bit words mixed by shifts and XORs, six steps
// per draw.
#include "channel/shift_xor_generator.h"

#include <bit>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace nbsim {

namespace {

constexpr std::uint32_t maskA = 0x1FFFFFu;
constexpr std::uint32_t maskB = 0x7FFFFFFFu;

// One step, on one generator (Word = std::uint32_t) or on several side by side (a vector of
// words). Both new words are computed from the old ones; unsigned arithmetic drops the bits
// shifted past bit 31.
template <typename Word>
[[gnu::always_inline]] inline void step(Word& s1, Word& s2, Word a, Word b) {
  const Word t = s1 ^ s2;
  s1 = a & s2;
  s2 = b & ((s2 >> 21) ^ (t << 10));
}

// One draw: six steps; returns the new s2.
template <typename Word>
[[gnu::always_inline]] inline Word draw(Word& s1, Word& s2, Word a, Word b) {
#pragma GCC unroll 6
  for (int i = 0; i < 6; ++i) step(s1, s2, a, b);
  return s2;
}

// One draw on the state as one word (s1 low, s2 high), with the masks that init sets.
std::uint64_t drawState(std::uint64_t state) {
  auto s1 = static_cast<std::uint32_t>(state);
  auto s2 = static_cast<std::uint32_t>(state >> 32);
  draw(s1, s2, maskA, maskB);
  return s1 | (std::uint64_t{s2} << 32);
}

}  // namespace

void ShiftXorGenerator::init(std::int32_t seed) {
  maskA_ = maskA;
  maskB_ = maskB;
  // Two's-complement reinterpretation: a negative seed keeps its bit pattern.
  s1_ = static_cast<std::uint32_t>(seed);
  s2_ = 7799u;
}

std::int32_t ShiftXorGenerator::nextInt() {
  // maskB clears bit 31, so the value always fits a non-negative int32.
  return static_cast<std::int32_t>(draw(s1_, s2_, maskA_, maskB_));
}

void ShiftXorGenerator::fill(std::int32_t* draws, std::size_t count) {
  const std::uint32_t a = maskA_;
  const std::uint32_t b = maskB_;
  std::uint32_t s1 = s1_;
  std::uint32_t s2 = s2_;
  for (std::size_t d = 0; d < count; ++d) draws[d] = static_cast<std::int32_t>(draw(s1, s2, a, b));
  s1_ = s1;
  s2_ = s2;
}

ShiftXorGenerator::Jump::Jump(std::uint64_t draws) {
  Jump power;  // the map of 2^k draws
  for (int j = 0; j < 64; ++j) {
    images_[static_cast<std::size_t>(j)] = std::uint64_t{1} << j;  // no draw yet
    power.images_[static_cast<std::size_t>(j)] = drawState(std::uint64_t{1} << j);
  }
  for (; draws != 0; draws >>= 1) {
    if ((draws & 1) != 0) {
      for (std::uint64_t& image : images_) image = power.apply(image);
    }
    Jump square;
    for (int j = 0; j < 64; ++j) {
      const auto k = static_cast<std::size_t>(j);
      square.images_[k] = power.apply(power.images_[k]);
    }
    power = square;
  }
}

std::uint64_t ShiftXorGenerator::Jump::apply(std::uint64_t state) const {
  std::uint64_t image = 0;
  for (; state != 0; state &= state - 1) {
    image ^= images_[static_cast<std::size_t>(std::countr_zero(state))];
  }
  return image;
}

void ShiftXorGenerator::fillInFourLanes(std::int32_t* draws, std::size_t perLane,
                                        const Jump& jump) {
#if defined(__SSE2__)
  // Lane j starts j * perLane draws ahead of the generator.
  std::uint64_t start[4] = {state(), 0, 0, 0};
  for (int j = 1; j < 4; ++j) start[j] = jump.apply(start[j - 1]);
  // Four generators side by side, one per lane of a vector of words.
  using Lanes = std::uint32_t __attribute__((vector_size(16)));
  const auto word = [&start](int j, int shift) {
    return static_cast<std::uint32_t>(start[j] >> shift);
  };
  Lanes s1 = {word(0, 0), word(1, 0), word(2, 0), word(3, 0)};
  Lanes s2 = {word(0, 32), word(1, 32), word(2, 32), word(3, 32)};
  const Lanes a = {maskA, maskA, maskA, maskA};
  const Lanes b = {maskB, maskB, maskB, maskB};
  const auto next = [&s1, &s2, a, b] { return (__m128i)draw(s1, s2, a, b); };
  std::int32_t* const lanes[4] = {draws, draws + perLane, draws + 2 * perLane, draws + 3 * perLane};
  std::size_t d = 0;
  // Four draws of each lane, turned from one vector per draw into one vector per lane.
  for (; d + 4 <= perLane; d += 4) {
    const __m128i r0 = next();
    const __m128i r1 = next();
    const __m128i r2 = next();
    const __m128i r3 = next();
    const __m128i low01 = _mm_unpacklo_epi32(r0, r1);   // lanes 0, 1 of draws 0, 1
    const __m128i high01 = _mm_unpackhi_epi32(r0, r1);  // lanes 2, 3 of draws 0, 1
    const __m128i low23 = _mm_unpacklo_epi32(r2, r3);
    const __m128i high23 = _mm_unpackhi_epi32(r2, r3);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes[0] + d), _mm_unpacklo_epi64(low01, low23));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes[1] + d), _mm_unpackhi_epi64(low01, low23));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes[2] + d), _mm_unpacklo_epi64(high01, high23));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes[3] + d), _mm_unpackhi_epi64(high01, high23));
  }
  for (; d < perLane; ++d) {
    alignas(16) std::int32_t row[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(row), next());
    for (int j = 0; j < 4; ++j) lanes[j][d] = row[j];
  }
  // The generator goes on from the end of the last lane.
  s1_ = s1[3];
  s2_ = s2[3];
#else
  (void)jump;
  fill(draws, 4 * perLane);
#endif
}

}  // namespace nbsim
