// The fast decoder's 256-bit kernels: the counts of non-zero votes and the votes of sixteen
// positions at once, on 16-bit lanes, as vote_kernels.h and lane_sums.h do for eight. They run
// only where the processor has AVX2 (decoder_variant.h); read by the decoder's source files
// alone, and only where vector_support.h sets NBSIM_WIDE_DECODER.
#pragma once

#include "code/vector_support.h"

#if NBSIM_WIDE_DECODER
#include <array>
#include <cstddef>
#include <cstdint>
#include <utility>

#include "code/vote_kernels.h"

namespace nbsim::votes {

// Bit k for lane k of sixteen 16-bit lanes that are all ones or all zeros.
NBSIM_AVX2 inline std::uint32_t wideLanes(__m256i mask) {
  // The pack keeps each half's eight lanes as bytes 0..7 and 16..23.
  const auto bytes = static_cast<std::uint32_t>(
      _mm256_movemask_epi8(_mm256_packs_epi16(mask, _mm256_setzero_si256())));
  return (bytes & 0xFFu) | ((bytes >> 8) & 0xFF00u);
}

// `sum` plus the sixteen 16-bit lanes at base + offsets[k] for every offset up to `end`;
// `fixed` > 0: exactly that many offsets, a constant so that the loop unrolls.
template <std::int32_t fixed>
NBSIM_AVX2 inline __m256i addWideLanesAt(__m256i sum, const std::int16_t* base,
                                         const std::int32_t* offsets, const std::int32_t* end) {
  __m256i other = _mm256_setzero_si256();
  if constexpr (fixed > 0) {
#pragma GCC unroll 16
    for (std::int32_t k = 0; k + 1 < fixed; k += 2) {
      sum = _mm256_add_epi16(
          sum, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(base + offsets[k])));
      other = _mm256_add_epi16(
          other, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(base + offsets[k + 1])));
    }
    if (fixed % 2 != 0) {
      sum = _mm256_add_epi16(
          sum, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(base + offsets[fixed - 1])));
    }
  } else {
    for (; end - offsets >= 2; offsets += 2) {
      sum = _mm256_add_epi16(
          sum, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(base + offsets[0])));
      other = _mm256_add_epi16(
          other, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(base + offsets[1])));
    }
    if (offsets != end) {
      sum = _mm256_add_epi16(sum,
                             _mm256_loadu_si256(reinterpret_cast<const __m256i*>(base + *offsets)));
    }
  }
  return _mm256_add_epi16(sum, other);
}

// Sixteen 32-bit values below 32768 as sixteen 16-bit lanes, in order; `bias`: values below 65536,
// less 32768 each.
template <bool bias = false>
NBSIM_AVX2 inline __m256i loadWideValues(const std::uint32_t* at) {
  __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
  __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + 8));
  if constexpr (bias) {
    low = _mm256_sub_epi32(low, _mm256_set1_epi32(32768));
    high = _mm256_sub_epi32(high, _mm256_set1_epi32(32768));
  }
  // The pack works within each half; the permutation puts the four quarters back in order.
  return _mm256_permute4x64_epi64(_mm256_packs_epi32(low, high), 0xD8);
}

// groupVote (vote_kernels.h) on sixteen positions: the same arguments, sixteen of each.
template <std::int32_t C, bool withD, bool fullRange = false>
NBSIM_AVX2 std::uint32_t wideGroupVote(const std::uint32_t* differences,
                                       const std::uint32_t* syndromes, const std::int32_t* offsets,
                                       const std::int16_t* nonzero, std::int32_t threshold,
                                       std::uint32_t due, std::uint32_t* values) {
  constexpr std::int32_t N = C + (withD ? 1 : 0);  // votes compared
  __m256i vote[N];
  __m256i count[N];  // from each vote on, as in groupVote
  const __m256i one = _mm256_set1_epi16(1);
  [[maybe_unused]] const __m256i lowest = _mm256_set1_epi16(-32768);  // a zero, less 32768
#pragma GCC unroll 16
  for (std::int32_t k = 0; k < N; ++k) {
    const std::uint32_t* const at =
        withD ? (k == 0 ? differences : syndromes + offsets[k - 1]) : syndromes + offsets[k];
    if constexpr (fullRange) {
      vote[k] = loadWideValues<true>(at);
      count[k] = one;
    } else {
      const __m256i value = loadWideValues(at);
      const __m256i zero = _mm256_cmpeq_epi16(value, _mm256_setzero_si256());
      vote[k] = _mm256_or_si256(
          value,
          _mm256_and_si256(zero, _mm256_set1_epi16(static_cast<std::int16_t>(0x8000 | k))));
      count[k] = _mm256_andnot_si256(zero, one);
    }
  }
#pragma GCC unroll 16
  for (std::int32_t a = 0; a < N; ++a) {
#pragma GCC unroll 16
    for (std::int32_t b = a + 1; b < N; ++b) {
      const __m256i equal = _mm256_cmpeq_epi16(vote[a], vote[b]);
      count[a] = _mm256_sub_epi16(count[a], equal);
    }
  }
  if constexpr (fullRange) {
#pragma GCC unroll 16
    for (std::int32_t a = 0; a < N; ++a) {
      count[a] = _mm256_andnot_si256(_mm256_cmpeq_epi16(vote[a], lowest), count[a]);
    }
  }
  __m256i best = count[0];
#pragma GCC unroll 16
  for (std::int32_t a = 1; a < N; ++a) best = _mm256_max_epi16(best, count[a]);
  const __m256i zeroVotes =
      _mm256_sub_epi16(_mm256_set1_epi16(static_cast<std::int16_t>(C + 1)),
                       _mm256_loadu_si256(reinterpret_cast<const __m256i*>(nonzero)));
  const __m256i thresholds = _mm256_set1_epi16(static_cast<std::int16_t>(threshold));
  if ((wideLanes(_mm256_cmpgt_epi16(best, _mm256_add_epi16(zeroVotes, thresholds))) & due) == 0) {
    return 0;
  }
  __m256i winner = _mm256_setzero_si256();
#pragma GCC unroll 16
  for (std::int32_t a = 0; a < N; ++a) {
    winner = _mm256_blendv_epi8(winner, vote[a], _mm256_cmpeq_epi16(count[a], best));
  }
  __m256i second = _mm256_setzero_si256();
#pragma GCC unroll 16
  for (std::int32_t a = 0; a < N; ++a) {
    second = _mm256_max_epi16(second,
                              _mm256_andnot_si256(_mm256_cmpeq_epi16(vote[a], winner), count[a]));
  }
  const __m256i bar = _mm256_add_epi16(_mm256_max_epi16(second, zeroVotes), thresholds);
  if constexpr (fullRange) winner = _mm256_xor_si256(winner, lowest);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(values),
                      _mm256_cvtepu16_epi32(_mm256_castsi256_si128(winner)));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(values + 8),
                      _mm256_cvtepu16_epi32(_mm256_extracti128_si256(winner, 1)));
  return wideLanes(_mm256_cmpgt_epi16(best, bar));
}

// loneVote (vote_kernels.h) compiled for AVX2: the same 128-bit steps, in the shorter forms
// that AVX2 processors run, with three operands.
template <std::int32_t C>
NBSIM_AVX2 [[gnu::flatten]] bool wideLoneVote(std::uint32_t d, const std::uint32_t* syndromes,
                                              const std::int32_t* offsets, std::int32_t m,
                                              std::int32_t threshold, std::uint32_t& a) {
  return loneVote<C>(d, syndromes, offsets, m, threshold, a);
}

template <std::size_t... K>
constexpr std::array<LoneVote, sizeof...(K)> makeWideLoneVotes(std::index_sequence<K...>) {
  return {&wideLoneVote<static_cast<std::int32_t>(K) + 1>...};
}

// As loneVotes.
inline constexpr auto wideLoneVotes =
    makeWideLoneVotes(std::make_index_sequence<largestLoneVote>());

using WideGroupVoteKernel = std::uint32_t (*)(const std::uint32_t*, const std::uint32_t*,
                                              const std::int32_t*, const std::int16_t*,
                                              std::int32_t, std::uint32_t, std::uint32_t*);

template <bool withD, bool fullRange, std::size_t... C>
constexpr std::array<WideGroupVoteKernel, sizeof...(C)> makeWideGroupVoteKernels(
    std::index_sequence<C...>) {
  return {&wideGroupVote<static_cast<std::int32_t>(C) + (withD ? 0 : 1), withD, fullRange>...};
}

// As groupVoteKernels and groupVoteKernelsWithoutD (and their FullRange), for sixteen positions.
inline constexpr auto wideGroupVoteKernels =
    makeWideGroupVoteKernels<true, false>(std::make_index_sequence<largestGroupVote>());
inline constexpr auto wideGroupVoteKernelsWithoutD =
    makeWideGroupVoteKernels<false, false>(std::make_index_sequence<largestGroupVote - 1>());
inline constexpr auto wideGroupVoteKernelsFullRange =
    makeWideGroupVoteKernels<true, true>(std::make_index_sequence<largestGroupVote>());
inline constexpr auto wideGroupVoteKernelsWithoutDFullRange =
    makeWideGroupVoteKernels<false, true>(std::make_index_sequence<largestGroupVote - 1>());

// wideGroupVote compiled where AVX-512 is there too: the same 256-bit steps, with 32 vector
// registers instead of 16, so that the votes and their counts need not spill to memory.
template <std::int32_t C, bool withD, bool fullRange>
[[gnu::target("avx2,avx512f,avx512vl,avx512bw"), gnu::flatten]] std::uint32_t wideGroupVote32(
    const std::uint32_t* differences, const std::uint32_t* syndromes, const std::int32_t* offsets,
    const std::int16_t* nonzero, std::int32_t threshold, std::uint32_t due, std::uint32_t* values) {
  return wideGroupVote<C, withD, fullRange>(differences, syndromes, offsets, nonzero, threshold,
                                            due, values);
}

template <bool withD, bool fullRange, std::size_t... C>
constexpr std::array<WideGroupVoteKernel, sizeof...(C)> makeWideGroupVoteKernels32(
    std::index_sequence<C...>) {
  return {&wideGroupVote32<static_cast<std::int32_t>(C) + (withD ? 0 : 1), withD, fullRange>...};
}

inline constexpr auto wideGroupVoteKernels32 =
    makeWideGroupVoteKernels32<true, false>(std::make_index_sequence<largestGroupVote>());
inline constexpr auto wideGroupVoteKernelsWithoutD32 =
    makeWideGroupVoteKernels32<false, false>(std::make_index_sequence<largestGroupVote - 1>());
inline constexpr auto wideGroupVoteKernelsFullRange32 =
    makeWideGroupVoteKernels32<true, true>(std::make_index_sequence<largestGroupVote>());
inline constexpr auto wideGroupVoteKernelsWithoutDFullRange32 =
    makeWideGroupVoteKernels32<false, true>(std::make_index_sequence<largestGroupVote - 1>());

}  // namespace nbsim::votes
#endif
