// The fast decoder's kernels for a block in bytes (Q <= 256): the counts of non-zero votes and
// the votes of 32 positions at once, on byte lanes of 256-bit vectors. A byte holds every value
// of such an alphabet, so a zero cannot be marked as a value of its own as on 16-bit lanes
// (vote_kernels.h): zeros count as equal to each other, and every zero's count is dropped
// afterwards. They run only where the processor has AVX2 (decoder_variant.h); read by the
// decoder's source files alone, and only where vector_support.h sets NBSIM_WIDE_DECODER.
#pragma once

#include "code/vector_support.h"

#if NBSIM_WIDE_DECODER
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <utility>

#include "code/vote_kernels.h"

namespace nbsim::votes {

NBSIM_AVX2 inline __m256i loadBytes(const std::uint8_t* at) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
}

// Bit k for byte lane k of a mask of all ones or all zeros.
NBSIM_AVX2 inline std::uint32_t byteLanes(__m256i mask) {
  return static_cast<std::uint32_t>(_mm256_movemask_epi8(mask));
}

// -1 in every lane of the 32 bytes at `at` that is zero, else 0.
NBSIM_AVX2 inline __m256i zeroBytes(const std::uint8_t* at) {
  return _mm256_cmpeq_epi8(loadBytes(at), _mm256_setzero_si256());
}

// The lanes of m (bytes) that reach `bound`; m is at most 16, so a bound above 127 is never
// reached, as 127 is not.
NBSIM_AVX2 inline std::uint32_t lanesReaching(__m256i m, std::int32_t bound) {
  return byteLanes(_mm256_cmpgt_epi8(m, _mm256_set1_epi8(static_cast<char>(std::min(bound, 127) - 1))));
}

// m for 32 positions: how many of the values are non-zero among the differences at `differences`
// and the syndrome symbols at syndromes + offsets[k] for every offset up to `end`; `fixed` > 0:
// exactly that many offsets, a constant so that the loop unrolls.
template <std::int32_t fixed>
NBSIM_AVX2 inline __m256i countNonzeroBytes(const std::uint8_t* differences,
                                            const std::uint8_t* syndromes,
                                            const std::int32_t* offsets, const std::int32_t* end) {
  const auto votes = static_cast<char>((fixed > 0 ? fixed : end - offsets) + 1);
  // Each zero counts -1; two sums, so that consecutive additions do not wait for each other.
  __m256i sum = zeroBytes(differences);
  __m256i other = _mm256_setzero_si256();
  if constexpr (fixed > 0) {
#pragma GCC unroll 16
    for (std::int32_t k = 0; k + 1 < fixed; k += 2) {
      sum = _mm256_add_epi8(sum, zeroBytes(syndromes + offsets[k]));
      other = _mm256_add_epi8(other, zeroBytes(syndromes + offsets[k + 1]));
    }
    if (fixed % 2 != 0) sum = _mm256_add_epi8(sum, zeroBytes(syndromes + offsets[fixed - 1]));
  } else {
    for (; end - offsets >= 2; offsets += 2) {
      sum = _mm256_add_epi8(sum, zeroBytes(syndromes + offsets[0]));
      other = _mm256_add_epi8(other, zeroBytes(syndromes + offsets[1]));
    }
    if (offsets != end) sum = _mm256_add_epi8(sum, zeroBytes(syndromes + *offsets));
  }
  return _mm256_add_epi8(_mm256_set1_epi8(votes), _mm256_add_epi8(sum, other));
}

// groupVote (vote_kernels.h) on 32 positions in bytes: the same arguments, 32 of each, the
// counts m as bytes and the winners written as bytes.
template <std::int32_t C, bool withD>
NBSIM_AVX2 std::uint32_t byteGroupVote(const std::uint8_t* differences,
                                       const std::uint8_t* syndromes, const std::int32_t* offsets,
                                       const std::int8_t* nonzero, std::int32_t threshold,
                                       std::uint32_t due, std::uint8_t* values) {
  constexpr std::int32_t N = C + (withD ? 1 : 0);  // votes compared
  __m256i vote[N];
  __m256i count[N];  // how many votes share the lane's value, zeros included until dropped
  const __m256i zero = _mm256_setzero_si256();
#pragma GCC unroll 16
  for (std::int32_t k = 0; k < N; ++k) {
    vote[k] = loadBytes(withD ? (k == 0 ? differences : syndromes + offsets[k - 1])
                              : syndromes + offsets[k]);
    count[k] = _mm256_set1_epi8(1);
  }
#pragma GCC unroll 16
  for (std::int32_t a = 0; a < N; ++a) {
#pragma GCC unroll 16
    for (std::int32_t b = a + 1; b < N; ++b) {
      const __m256i equal = _mm256_cmpeq_epi8(vote[a], vote[b]);
      count[a] = _mm256_sub_epi8(count[a], equal);
      count[b] = _mm256_sub_epi8(count[b], equal);
    }
  }
  __m256i best = zero;
#pragma GCC unroll 16
  for (std::int32_t a = 0; a < N; ++a) {
    count[a] = _mm256_andnot_si256(_mm256_cmpeq_epi8(vote[a], zero), count[a]);
    best = _mm256_max_epi8(best, count[a]);
  }
  const __m256i zeroVotes = _mm256_sub_epi8(
      _mm256_set1_epi8(static_cast<char>(C + 1)),
      _mm256_loadu_si256(reinterpret_cast<const __m256i*>(nonzero)));
  // At most 16 votes: a threshold above 100 corrects nothing, as 100 does.
  const __m256i thresholds = _mm256_set1_epi8(static_cast<char>(std::min(threshold, 100)));
  if ((byteLanes(_mm256_cmpgt_epi8(best, _mm256_adds_epi8(zeroVotes, thresholds))) & due) == 0) {
    return 0;
  }
  __m256i winner = zero;
#pragma GCC unroll 16
  for (std::int32_t a = 0; a < N; ++a) {
    winner = _mm256_blendv_epi8(winner, vote[a], _mm256_cmpeq_epi8(count[a], best));
  }
  __m256i second = zero;
#pragma GCC unroll 16
  for (std::int32_t a = 0; a < N; ++a) {
    second =
        _mm256_max_epi8(second, _mm256_andnot_si256(_mm256_cmpeq_epi8(vote[a], winner), count[a]));
  }
  const __m256i bar = _mm256_adds_epi8(_mm256_max_epi8(second, zeroVotes), thresholds);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(values), winner);
  return byteLanes(_mm256_cmpgt_epi8(best, bar));
}

using ByteGroupVoteKernel = std::uint32_t (*)(const std::uint8_t*, const std::uint8_t*,
                                              const std::int32_t*, const std::int8_t*,
                                              std::int32_t, std::uint32_t, std::uint8_t*);

// byteGroupVote compiled where AVX-512 is there too, with 32 vector registers.
template <std::int32_t C, bool withD>
[[gnu::target("avx2,avx512f,avx512vl,avx512bw"), gnu::flatten]] std::uint32_t byteGroupVote32(
    const std::uint8_t* differences, const std::uint8_t* syndromes, const std::int32_t* offsets,
    const std::int8_t* nonzero, std::int32_t threshold, std::uint32_t due, std::uint8_t* values) {
  return byteGroupVote<C, withD>(differences, syndromes, offsets, nonzero, threshold, due, values);
}

template <bool registers32, bool withD, std::size_t... C>
constexpr std::array<ByteGroupVoteKernel, sizeof...(C)> makeByteGroupVoteKernels(
    std::index_sequence<C...>) {
  // Without d, C counts from 1: a vote needs at least one value.
  if constexpr (registers32) {
    return {&byteGroupVote32<static_cast<std::int32_t>(C) + (withD ? 0 : 1), withD>...};
  } else {
    return {&byteGroupVote<static_cast<std::int32_t>(C) + (withD ? 0 : 1), withD>...};
  }
}

// As groupVoteKernels and groupVoteKernelsWithoutD, for 32 positions in bytes; the ones ending
// in 32 for AVX-512's registers.
inline constexpr auto byteGroupVoteKernels =
    makeByteGroupVoteKernels<false, true>(std::make_index_sequence<largestGroupVote>());
inline constexpr auto byteGroupVoteKernelsWithoutD =
    makeByteGroupVoteKernels<false, false>(std::make_index_sequence<largestGroupVote - 1>());
inline constexpr auto byteGroupVoteKernels32 =
    makeByteGroupVoteKernels<true, true>(std::make_index_sequence<largestGroupVote>());
inline constexpr auto byteGroupVoteKernelsWithoutD32 =
    makeByteGroupVoteKernels<true, false>(std::make_index_sequence<largestGroupVote - 1>());

// loneVote (vote_kernels.h) on syndrome symbols in bytes, compiled for AVX2.
template <std::int32_t C>
NBSIM_AVX2 [[gnu::flatten]] bool byteLoneVote(std::uint32_t d, const std::uint8_t* syndromes,
                                              const std::int32_t* offsets, std::int32_t m,
                                              std::int32_t threshold, std::uint32_t& a) {
  return loneVote<C, std::uint8_t>(d, syndromes, offsets, m, threshold, a);
}

using ByteLoneVote = bool (*)(std::uint32_t, const std::uint8_t*, const std::int32_t*,
                              std::int32_t, std::int32_t, std::uint32_t&);

template <std::size_t... K>
constexpr std::array<ByteLoneVote, sizeof...(K)> makeByteLoneVotes(std::index_sequence<K...>) {
  return {&byteLoneVote<static_cast<std::int32_t>(K) + 1>...};
}

// byteLoneVotes[C - 1] takes C checks.
inline constexpr auto byteLoneVotes = makeByteLoneVotes(std::make_index_sequence<largestLoneVote>());

}  // namespace nbsim::votes
#endif
