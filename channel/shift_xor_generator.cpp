// The channel's shift-XOR generator: two masked 32-bit words mixed by shifts and XORs, six steps
// per draw.
#include "channel/shift_xor_generator.h"

#include <bit>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

namespace {

constexpr std::uint32_t maskA = 0x1FFFFFu;
constexpr std::uint32_t maskB = 0x7FFFFFFFu;

// One draw on the state as one word: six steps with the masks that init sets.
std::uint64_t drawState(std::uint64_t state) {
  auto s1 = static_cast<std::uint32_t>(state);
  auto s2 = static_cast<std::uint32_t>(state >> 32);
  for (int i = 0; i < 6; ++i) {
    const std::uint32_t t = s1 ^ s2;
    s1 = maskA & s2;
    s2 = maskB & ((s2 >> 21) ^ (t << 10));
  }
  return s1 | (std::uint64_t{s2} << 32);
}

}  // namespace

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
  const auto word = [&start](int j, int shift) {
    return static_cast<int>(static_cast<std::uint32_t>(start[j] >> shift));
  };
  __m128i s1 = _mm_set_epi32(word(3, 0), word(2, 0), word(1, 0), word(0, 0));
  __m128i s2 = _mm_set_epi32(word(3, 32), word(2, 32), word(1, 32), word(0, 32));
  const __m128i a = _mm_set1_epi32(static_cast<int>(maskA));
  const __m128i b = _mm_set1_epi32(static_cast<int>(maskB));
  const auto draw = [&s1, &s2, a, b] {
    for (int i = 0; i < 6; ++i) {
      const __m128i t = _mm_xor_si128(s1, s2);
      s1 = _mm_and_si128(a, s2);
      s2 = _mm_and_si128(b, _mm_xor_si128(_mm_srli_epi32(s2, 21), _mm_slli_epi32(t, 10)));
    }
    return s2;
  };
  std::int32_t* const lanes[4] = {draws, draws + perLane, draws + 2 * perLane, draws + 3 * perLane};
  std::size_t d = 0;
  // Four draws of each lane, turned from one vector per draw into one vector per lane.
  for (; d + 4 <= perLane; d += 4) {
    const __m128i r0 = draw();
    const __m128i r1 = draw();
    const __m128i r2 = draw();
    const __m128i r3 = draw();
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
    _mm_store_si128(reinterpret_cast<__m128i*>(row), draw());
    for (int j = 0; j < 4; ++j) lanes[j][d] = row[j];
  }
  // The generator goes on from the end of the last lane.
  alignas(16) std::uint32_t last1[4];
  alignas(16) std::uint32_t last2[4];
  _mm_store_si128(reinterpret_cast<__m128i*>(last1), s1);
  _mm_store_si128(reinterpret_cast<__m128i*>(last2), s2);
  s1_ = last1[3];
  s2_ = last2[3];
#else
  (void)jump;
  fill(draws, 4 * perLane);
#endif
}

}  // namespace nbsim
