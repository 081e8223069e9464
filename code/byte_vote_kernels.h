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
#include <bit>
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
  return byteLanes(
      _mm256_cmpgt_epi8(m, _mm256_set1_epi8(static_cast<char>(std::min(bound, 127) - 1))));
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

// countNonzeroBytes on votes kept as vectors: the differences at votes[0], then C syndrome
// symbols.
template <std::int32_t C>
NBSIM_AVX2 inline __m256i countNonzeroVotes(const __m256i* votes) {
  const __m256i zero = _mm256_setzero_si256();
  __m256i sum = _mm256_cmpeq_epi8(votes[0], zero);
  __m256i other = zero;
#pragma GCC unroll 16
  for (std::int32_t k = 1; k <= C; ++k) {
    const __m256i isZero = _mm256_cmpeq_epi8(votes[k], zero);
    if (k % 2 == 0) {
      sum = _mm256_add_epi8(sum, isZero);
    } else {
      other = _mm256_add_epi8(other, isZero);
    }
  }
  return _mm256_add_epi8(_mm256_set1_epi8(static_cast<char>(C + 1)), _mm256_add_epi8(sum, other));
}

// The vote of byteGroupVote below on its votes, already loaded: d first when `withD`, then the
// C syndrome symbols.
template <std::int32_t C, bool withD>
NBSIM_AVX2 [[gnu::always_inline]] inline std::uint32_t byteGroupVoteOf(const __m256i* vote,
                                                                       const std::int8_t* nonzero,
                                                                       std::int32_t threshold,
                                                                       std::uint32_t due,
                                                                       std::uint8_t* values) {
  constexpr std::int32_t N = C + (withD ? 1 : 0);  // votes compared
  // How many votes from this one on share the lane's value, zeros included until dropped: the
  // first vote of each value counts them all, which is all that the best and the second best
  // need; a later vote of it counts fewer, and never as many as the best unless the first does.
  __m256i count[N];
  const __m256i zero = _mm256_setzero_si256();
#pragma GCC unroll 16
  for (std::int32_t k = 0; k < N; ++k) count[k] = _mm256_set1_epi8(1);
#pragma GCC unroll 16
  for (std::int32_t a = 0; a < N; ++a) {
#pragma GCC unroll 16
    for (std::int32_t b = a + 1; b < N; ++b) {
      const __m256i equal = _mm256_cmpeq_epi8(vote[a], vote[b]);
      count[a] = _mm256_sub_epi8(count[a], equal);
    }
  }
  __m256i best = zero;
#pragma GCC unroll 16
  for (std::int32_t a = 0; a < N; ++a) {
    count[a] = _mm256_andnot_si256(_mm256_cmpeq_epi8(vote[a], zero), count[a]);
    best = _mm256_max_epi8(best, count[a]);
  }
  const __m256i zeroVotes =
      _mm256_sub_epi8(_mm256_set1_epi8(static_cast<char>(C + 1)),
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

// groupVote (vote_kernels.h) on 32 positions in bytes: the same arguments, 32 of each, the
// counts m as bytes and the winners written as bytes.
template <std::int32_t C, bool withD>
NBSIM_AVX2 std::uint32_t byteGroupVote(const std::uint8_t* differences,
                                       const std::uint8_t* syndromes, const std::int32_t* offsets,
                                       const std::int8_t* nonzero, std::int32_t threshold,
                                       std::uint32_t due, std::uint8_t* values) {
  __m256i vote[C + (withD ? 1 : 0)];
#pragma GCC unroll 16
  for (std::int32_t k = 0; k < C + (withD ? 1 : 0); ++k) {
    vote[k] = loadBytes(withD ? (k == 0 ? differences : syndromes + offsets[k - 1])
                              : syndromes + offsets[k]);
  }
  return byteGroupVoteOf<C, withD>(vote, nonzero, threshold, due, values);
}

// byteGroupVote on votes that the caller keeps as vectors, `votes` as for byteGroupVoteOf: a
// pass that changes a few bytes of them keeps them up to date in place, where reading them back
// from the bytes just stored would wait for the stores.
template <std::int32_t C, bool withD>
NBSIM_AVX2 std::uint32_t byteWindowVote(const __m256i* votes, const std::int8_t* nonzero,
                                        std::int32_t threshold, std::uint32_t due,
                                        std::uint8_t* values) {
  return byteGroupVoteOf<C, withD>(votes, nonzero, threshold, due, values);
}

using ByteGroupVoteKernel = std::uint32_t (*)(const std::uint8_t*, const std::uint8_t*,
                                              const std::int32_t*, const std::int8_t*, std::int32_t,
                                              std::uint32_t, std::uint8_t*);
using ByteWindowVoteKernel = std::uint32_t (*)(const __m256i*, const std::int8_t*, std::int32_t,
                                               std::uint32_t, std::uint8_t*);

// byteGroupVote compiled where AVX-512 is there too, with 32 vector registers.
template <std::int32_t C, bool withD>
[[gnu::target("avx2,avx512f,avx512vl,avx512bw"), gnu::flatten]] std::uint32_t byteGroupVote32(
    const std::uint8_t* differences, const std::uint8_t* syndromes, const std::int32_t* offsets,
    const std::int8_t* nonzero, std::int32_t threshold, std::uint32_t due, std::uint8_t* values) {
  return byteGroupVote<C, withD>(differences, syndromes, offsets, nonzero, threshold, due, values);
}
template <std::int32_t C, bool withD>
[[gnu::target("avx2,avx512f,avx512vl,avx512bw"), gnu::flatten]] std::uint32_t byteWindowVote32(
    const __m256i* votes, const std::int8_t* nonzero, std::int32_t threshold, std::uint32_t due,
    std::uint8_t* values) {
  return byteWindowVote<C, withD>(votes, nonzero, threshold, due, values);
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

// The largest of eight 32-bit lanes.
NBSIM_AVX2 inline std::int32_t largestLane(__m256i x) {
  x = _mm256_max_epi32(x, _mm256_permute2x128_si256(x, x, 1));
  x = _mm256_max_epi32(x, _mm256_shuffle_epi32(x, 0x4E));
  x = _mm256_max_epi32(x, _mm256_shuffle_epi32(x, 0xB1));
  return _mm256_cvtsi256_si32(x);
}

// The vote of one symbol with C <= 8 checks in bytes: its difference d, the syndromes at
// syndromes[offsets[k]], k < C, and m, its count of non-zero votes; as loneVote (vote_kernels.h).
// The eight check votes, zeros for the lanes without a check, make the rows and the columns of
// an 8 x 8 table of equalities; a row's sum, with d's equality on its diagonal, counts the
// votes for its value. Zero rows count nothing.
template <std::int32_t C>
NBSIM_AVX2 bool byteLoneVote(std::uint32_t d, const std::uint8_t* syndromes,
                             const std::int32_t* offsets, std::int32_t m, std::int32_t threshold,
                             std::uint32_t& a) {
  std::uint64_t packed = 0;
#pragma GCC unroll 8
  for (std::int32_t k = 0; k < C; ++k) {
    packed |= static_cast<std::uint64_t>(syndromes[offsets[k]]) << (8 * k);
  }
  // Mostly a lone error: every check holds the same value s != 0, which wins with C votes (one
  // more if d = s) against d's one vote or its zero vote.
  const std::uint64_t first = packed & 255;
  if (C >= 2 && first != 0 && packed == first * (~std::uint64_t{0} / 255 >> (64 - 8 * C))) {
    a = static_cast<std::uint32_t>(first);
    return (d == first ? C + 1 : C - 1) > threshold;
  }
  const __m256i zero = _mm256_setzero_si256();
  const __m256i one = _mm256_set1_epi8(1);
  const auto value = static_cast<char>(d);
  const __m256i votes = _mm256_set1_epi64x(static_cast<long long>(packed));
  // Row k: vote k in all eight bytes of quarter k (rows 0-3) or k - 4 (rows 4-7).
  const __m256i rows0 =
      _mm256_shuffle_epi8(votes, _mm256_setr_epi8(0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 2,
                                                  2, 2, 2, 2, 2, 2, 2, 3, 3, 3, 3, 3, 3, 3, 3));
  const __m256i rows1 =
      _mm256_shuffle_epi8(votes, _mm256_setr_epi8(4, 4, 4, 4, 4, 4, 4, 4, 5, 5, 5, 5, 5, 5, 5, 5, 6,
                                                  6, 6, 6, 6, 6, 6, 6, 7, 7, 7, 7, 7, 7, 7, 7));
  // d's vote on the diagonal of the rows equal to it.
  const __m256i likeD = _mm256_cmpeq_epi8(votes, _mm256_set1_epi8(value));
  const __m256i diagonal0 = _mm256_setr_epi8(1, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0,
                                             1, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0);
  const __m256i diagonal1 = _mm256_setr_epi8(0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0,
                                             0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 1);
  const __m256i table0 =
      _mm256_andnot_si256(_mm256_cmpeq_epi8(rows0, zero),
                          _mm256_add_epi8(_mm256_and_si256(_mm256_cmpeq_epi8(rows0, votes), one),
                                          _mm256_and_si256(likeD, diagonal0)));
  const __m256i table1 =
      _mm256_andnot_si256(_mm256_cmpeq_epi8(rows1, zero),
                          _mm256_add_epi8(_mm256_and_si256(_mm256_cmpeq_epi8(rows1, votes), one),
                                          _mm256_and_si256(likeD, diagonal1)));
  // Row k's count in 32-bit lane 2k (k < 4) or 2(k - 4) + 1.
  const __m256i counts = _mm256_or_si256(_mm256_sad_epu8(table0, zero),
                                         _mm256_slli_epi64(_mm256_sad_epu8(table1, zero), 32));
  // d's own count: 1 and every check equal to it.
  const auto dMatches =
      static_cast<std::uint32_t>(_mm256_movemask_epi8(likeD)) & ((std::uint32_t{1} << C) - 1);
  const std::int32_t dVotes = d == 0 ? 0 : 1 + std::popcount(dMatches);
  const std::int32_t best = std::max(largestLane(counts), dVotes);
  // As in loneVote: a tie for the best count shows as more votes at it than the count.
  const __m256i bestLanes = _mm256_cmpeq_epi32(counts, _mm256_set1_epi32(best));
  const auto atBest =
      static_cast<std::uint32_t>(_mm256_movemask_ps(_mm256_castsi256_ps(bestLanes)));
  const std::int32_t votesAtBest = std::popcount(atBest) + (dVotes == best ? 1 : 0);
  const std::int32_t below =
      std::max(largestLane(_mm256_andnot_si256(bestLanes, counts)), dVotes < best ? dVotes : 0);
  const std::int32_t second = votesAtBest > best ? best : below;
  // The value of the first row at the best count (row p / 2 + 4 (p % 2) for lane p), or d.
  const std::int32_t lane = std::countr_zero(atBest | 0x100u) & 7;
  const std::int32_t row = lane / 2 + 4 * (lane % 2);
  a = dVotes == best ? d : static_cast<std::uint32_t>((packed >> (8 * row)) & 255);
  const std::int32_t zeroVotes = C + 1 - m;
  return best - std::max(second, zeroVotes) > threshold;
}

using ByteLoneVote = bool (*)(std::uint32_t, const std::uint8_t*, const std::int32_t*, std::int32_t,
                              std::int32_t, std::uint32_t&);

template <std::size_t... K>
constexpr std::array<ByteLoneVote, sizeof...(K)> makeByteLoneVotes(std::index_sequence<K...>) {
  return {&byteLoneVote<static_cast<std::int32_t>(K) + 1>...};
}

// byteLoneVotes[C - 1] takes C checks.
inline constexpr auto byteLoneVotes =
    makeByteLoneVotes(std::make_index_sequence<largestLoneVote>());

}  // namespace nbsim::votes
#endif
