// The channel's shift-XOR generator: two masked 32-bit words mixed by shifts and XORs, six steps
// per draw.
#include "channel/shift_xor_generator.h"

#include <bit>
#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define NBSIM_WIDE_DRAWS 1
#include <immintrin.h>
#else
#define NBSIM_WIDE_DRAWS 0
#endif

namespace nbsim {

namespace {

constexpr std::uint32_t maskA = 0x1FFFFFu;
constexpr std::uint32_t maskB = 0x7FFFFFFFu;

// One step, on one generator (Word = std::uint32_t) or on several side by side (a vector of
// words). Both new words are computed from the old ones; unsigned arithmetic drops the bits
// shifted past bit 31.
template <typename Word>
[[gnu::always_inline]] inline void step(Word& s1, Word& s2, const Word& a, const Word& b) {
  const Word t = s1 ^ s2;
  s1 = a & s2;
  s2 = b & ((s2 >> 21) ^ (t << 10));
}

// One draw: six steps; the draw is the new s2. (Wide vectors pass by reference only: their
// return by value would depend on the target.)
template <typename Word>
[[gnu::always_inline]] inline void advance(Word& s1, Word& s2, const Word& a, const Word& b) {
#pragma GCC unroll 6
  for (int i = 0; i < 6; ++i) step(s1, s2, a, b);
}

template <typename Word>
[[gnu::always_inline]] inline Word draw(Word& s1, Word& s2, Word a, Word b) {
  advance(s1, s2, a, b);
  return s2;
}

// One draw on the state as one word (s1 low, s2 high), with the masks that init sets.
std::uint64_t drawState(std::uint64_t state) {
  auto s1 = static_cast<std::uint32_t>(state);
  auto s2 = static_cast<std::uint32_t>(state >> 32);
  draw(s1, s2, maskA, maskB);
  return s1 | (std::uint64_t{s2} << 32);
}

// Stretches of draws in lanes: `groups` vectors of `Width` generators side by side, lane
// g * Width + j in word j of vector g, so that the vectors' steps overlap (one vector alone would
// wait on each step's result). Each round makes Width draws of every lane, as Width rows per
// vector (row i: draw i of its lanes), which the kernels below turn into stretches.
constexpr int groups = 4;

template <typename Lanes, int Width>
struct LaneState {
  Lanes s1[groups];
  Lanes s2[groups];
  Lanes a;
  Lanes b;
};

// Lane k starts k * perLane draws after `state`.
template <typename Lanes, int Width>
[[gnu::always_inline]] inline void startLanes(LaneState<Lanes, Width>& lanes, std::uint64_t state,
                                              const ShiftXorGenerator::Jump& jump) {
  for (int g = 0; g < groups; ++g) {
    for (int j = 0; j < Width; ++j) {
      if (g + j > 0) state = jump.apply(state);
      lanes.s1[g][j] = static_cast<std::uint32_t>(state);
      lanes.s2[g][j] = static_cast<std::uint32_t>(state >> 32);
    }
  }
  for (int j = 0; j < Width; ++j) {
    lanes.a[j] = maskA;
    lanes.b[j] = maskB;
  }
}

template <typename Lanes, int Width>
[[gnu::always_inline]] inline void makeRows(LaneState<Lanes, Width>& lanes,
                                            Lanes (&rows)[groups][Width]) {
  for (int i = 0; i < Width; ++i) {
    for (int g = 0; g < groups; ++g) {
      advance(lanes.s1[g], lanes.s2[g], lanes.a, lanes.b);
      rows[g][i] = lanes.s2[g];
    }
  }
}

// The last draws, fewer than Width per lane, one at a time; returns the last lane's state.
template <typename Lanes, int Width>
[[gnu::always_inline]] inline std::uint64_t finishLanes(LaneState<Lanes, Width>& lanes,
                                                        std::int32_t* draws, std::size_t perLane,
                                                        std::size_t d) {
  for (; d < perLane; ++d) {
    for (int g = 0; g < groups; ++g) {
      advance(lanes.s1[g], lanes.s2[g], lanes.a, lanes.b);
      for (int j = 0; j < Width; ++j) {
        draws[static_cast<std::size_t>(g * Width + j) * perLane + d] =
            static_cast<std::int32_t>(lanes.s2[g][j]);
      }
    }
  }
  return lanes.s1[groups - 1][Width - 1] | (std::uint64_t{lanes.s2[groups - 1][Width - 1]} << 32);
}

#if defined(__SSE2__)
using Lanes4 = std::uint32_t __attribute__((vector_size(16)));

std::uint64_t fillInLanes4(std::uint64_t state, std::int32_t* draws, std::size_t perLane,
                           const ShiftXorGenerator::Jump& jump) {
  LaneState<Lanes4, 4> lanes;
  startLanes(lanes, state, jump);
  std::size_t d = 0;
  for (; d + 4 <= perLane; d += 4) {
    Lanes4 rows[groups][4];
    makeRows(lanes, rows);
    for (int g = 0; g < groups; ++g) {
      const __m128i r0 = (__m128i)rows[g][0];
      const __m128i r1 = (__m128i)rows[g][1];
      const __m128i r2 = (__m128i)rows[g][2];
      const __m128i r3 = (__m128i)rows[g][3];
      const __m128i low01 = _mm_unpacklo_epi32(r0, r1);   // lanes 0, 1 of draws 0, 1
      const __m128i high01 = _mm_unpackhi_epi32(r0, r1);  // lanes 2, 3 of draws 0, 1
      const __m128i low23 = _mm_unpacklo_epi32(r2, r3);
      const __m128i high23 = _mm_unpackhi_epi32(r2, r3);
      std::int32_t* const lane = draws + static_cast<std::size_t>(4 * g) * perLane + d;
      _mm_storeu_si128(reinterpret_cast<__m128i*>(lane), _mm_unpacklo_epi64(low01, low23));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(lane + perLane),
                       _mm_unpackhi_epi64(low01, low23));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(lane + 2 * perLane),
                       _mm_unpacklo_epi64(high01, high23));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(lane + 3 * perLane),
                       _mm_unpackhi_epi64(high01, high23));
    }
  }
  return finishLanes(lanes, draws, perLane, d);
}
#endif

#if NBSIM_WIDE_DRAWS
using Lanes8 = std::uint32_t __attribute__((vector_size(32)));
using Lanes16 = std::uint32_t __attribute__((vector_size(64)));

[[gnu::target("avx2")]] std::uint64_t fillInLanes8(std::uint64_t state, std::int32_t* draws,
                                                   std::size_t perLane,
                                                   const ShiftXorGenerator::Jump& jump) {
  LaneState<Lanes8, 8> lanes;
  startLanes(lanes, state, jump);
  std::size_t d = 0;
  for (; d + 8 <= perLane; d += 8) {
    Lanes8 rows[groups][8];
    makeRows(lanes, rows);
    for (int g = 0; g < groups; ++g) {
      // Pairs, then fours, of draws within each 128-bit half: t[4i + m] half k holds lane
      // 4k + m of draws 4i .. 4i + 3; the halves are then gathered.
      __m256i u[8];
      __m256i t[8];
      for (int i = 0; i < 8; i += 2) {
        u[i] = _mm256_unpacklo_epi32((__m256i)rows[g][i], (__m256i)rows[g][i + 1]);
        u[i + 1] = _mm256_unpackhi_epi32((__m256i)rows[g][i], (__m256i)rows[g][i + 1]);
      }
      for (int i = 0; i < 8; i += 4) {
        t[i] = _mm256_unpacklo_epi64(u[i], u[i + 2]);
        t[i + 1] = _mm256_unpackhi_epi64(u[i], u[i + 2]);
        t[i + 2] = _mm256_unpacklo_epi64(u[i + 1], u[i + 3]);
        t[i + 3] = _mm256_unpackhi_epi64(u[i + 1], u[i + 3]);
      }
      std::int32_t* const lane = draws + static_cast<std::size_t>(8 * g) * perLane + d;
      for (std::size_t m = 0; m < 4; ++m) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(lane + m * perLane),
                            _mm256_permute2x128_si256(t[m], t[4 + m], 0x20));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(lane + (4 + m) * perLane),
                            _mm256_permute2x128_si256(t[m], t[4 + m], 0x31));
      }
    }
  }
  return finishLanes(lanes, draws, perLane, d);
}

[[gnu::target("avx512f")]] std::uint64_t fillInLanes16(std::uint64_t state, std::int32_t* draws,
                                                       std::size_t perLane,
                                                       const ShiftXorGenerator::Jump& jump) {
  LaneState<Lanes16, 16> lanes;
  startLanes(lanes, state, jump);
  // The transposition in four rounds, one per bit of a lane's and a draw's number: round k swaps
  // bit k of the two between the rows i and i + 2^k (bit k of i clear), each new row taking half
  // its words from either.
  __m512i lower[4];
  __m512i upper[4];
  for (int k = 0; k < 4; ++k) {
    const int h = 1 << k;
    alignas(64) std::int32_t low[16];
    alignas(64) std::int32_t high[16];
    for (int c = 0; c < 16; ++c) {
      const bool bit = (c & h) != 0;
      low[c] = bit ? 16 + c - h : c;
      high[c] = bit ? 16 + c : c + h;
    }
    lower[k] = _mm512_load_si512(low);
    upper[k] = _mm512_load_si512(high);
  }
  std::size_t d = 0;
  for (; d + 16 <= perLane; d += 16) {
    Lanes16 rows[groups][16];
    makeRows(lanes, rows);
    for (int g = 0; g < groups; ++g) {
      __m512i r[16];
      for (int i = 0; i < 16; ++i) r[i] = (__m512i)rows[g][i];
      for (int k = 0; k < 4; ++k) {
        const int h = 1 << k;
        for (int i = 0; i < 16; ++i) {
          if ((i & h) != 0) continue;
          const __m512i x = r[i];
          const __m512i y = r[i + h];
          r[i] = _mm512_permutex2var_epi32(x, lower[k], y);
          r[i + h] = _mm512_permutex2var_epi32(x, upper[k], y);
        }
      }
      std::int32_t* const lane = draws + static_cast<std::size_t>(16 * g) * perLane + d;
      for (std::size_t j = 0; j < 16; ++j) _mm512_storeu_si512(lane + j * perLane, r[j]);
    }
  }
  return finishLanes(lanes, draws, perLane, d);
}
#endif

}  // namespace

std::vector<DrawVariant> availableDrawVariants() {
  std::vector<DrawVariant> variants{DrawVariant::plain};
#if defined(__SSE2__)
  variants.push_back(DrawVariant::sse2);
#endif
#if NBSIM_WIDE_DRAWS
  if (__builtin_cpu_supports("avx2")) variants.push_back(DrawVariant::avx2);
  if (__builtin_cpu_supports("avx512f")) variants.push_back(DrawVariant::avx512);
#endif
  return variants;
}

DrawVariant chosenDrawVariant() {
  const std::vector<DrawVariant> variants = availableDrawVariants();
  if (const char* asked = std::getenv("NBSIM_DRAW_VARIANT")) {
    for (const DrawVariant variant : variants) {
      if (std::strcmp(asked, drawVariantName(variant)) == 0) return variant;
    }
  }
  return variants.back();
}

const char* drawVariantName(DrawVariant variant) {
  switch (variant) {
    case DrawVariant::plain:
      return "plain";
    case DrawVariant::sse2:
      return "sse2";
    case DrawVariant::avx2:
      return "avx2";
    case DrawVariant::avx512:
      return "avx512";
  }
  return "?";
}

std::size_t drawLanes(DrawVariant variant) {
  switch (variant) {
    case DrawVariant::plain:
      return 1;
    case DrawVariant::sse2:
      return 4 * groups;
    case DrawVariant::avx2:
      return 8 * groups;
    case DrawVariant::avx512:
      return 16 * groups;
  }
  return 1;
}

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

ShiftXorGenerator::Jump ShiftXorGenerator::Jump::twice() const {
  Jump square;
  for (std::size_t k = 0; k < images_.size(); ++k) square.images_[k] = apply(images_[k]);
  return square;
}

std::uint64_t ShiftXorGenerator::Jump::apply(std::uint64_t state) const {
  std::uint64_t image = 0;
  for (; state != 0; state &= state - 1) {
    image ^= images_[static_cast<std::size_t>(std::countr_zero(state))];
  }
  return image;
}

void ShiftXorGenerator::fillInLanes(std::int32_t* draws, std::size_t perLane, const Jump& jump,
                                    DrawVariant variant) {
  std::uint64_t last = 0;
  switch (variant) {
    case DrawVariant::plain:
      fill(draws, perLane);
      return;
#if defined(__SSE2__)
    case DrawVariant::sse2:
      last = fillInLanes4(state(), draws, perLane, jump);
      break;
#endif
#if NBSIM_WIDE_DRAWS
    case DrawVariant::avx2:
      last = fillInLanes8(state(), draws, perLane, jump);
      break;
    case DrawVariant::avx512:
      last = fillInLanes16(state(), draws, perLane, jump);
      break;
#endif
    default:
      fill(draws, drawLanes(variant) * perLane);
      return;
  }
  // The generator goes on from the end of the last lane.
  s1_ = static_cast<std::uint32_t>(last);
  s2_ = static_cast<std::uint32_t>(last >> 32);
}

namespace {

// The widest of `widest` and the narrower variants whose lanes split `count` draws into
// stretches of at least sixteen; the plain generator when none does.
DrawVariant variantFor(std::size_t count, DrawVariant widest) {
  for (const DrawVariant variant : {DrawVariant::avx512, DrawVariant::avx2, DrawVariant::sse2}) {
    const std::size_t lanes = drawLanes(variant);
    if (variant <= widest && count % lanes == 0 && count >= 16 * lanes) return variant;
  }
  return DrawVariant::plain;
}

}  // namespace

LaneFill::LaneFill(std::size_t count, DrawVariant widest)
    : count_(count), variant_(variantFor(count, widest)), jump_(count / drawLanes(variant_)) {}

void LaneFill::operator()(ShiftXorGenerator& generator, std::int32_t* draws) const {
  if (variant_ == DrawVariant::plain) {
    generator.fill(draws, count_);
    return;
  }
  generator.fillInLanes(draws, count_ / drawLanes(variant_), jump_, variant_);
}

}  // namespace nbsim
