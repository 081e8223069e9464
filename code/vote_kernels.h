// The votes of the fast decoder: one symbol's or eight symbols' votes at once, on 16-bit lanes.
// A vote has the symbol's difference d and the syndrome symbols of its C checks; zero votes
// count for no value. It corrects when one non-zero value leads every other value, and the zero
// votes, by more than the threshold; the winner is that value.
#pragma once

#include <emmintrin.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <utility>

namespace nbsim::votes {

// The most votes (C + 1) that a group vote takes at once.
constexpr std::int32_t largestGroupVote = 16;

// The votes of eight positions at once, with C checks each: their differences d (when `withD`;
// without, every d is 0 and casts a zero vote), and their checks at syndromes + offsets[k],
// k < C; `nonzero` points at their counts m of non-zero votes. Returns bit k where position k's
// vote corrects at `threshold`, and each position's winning value in values[k]; nothing when no
// position of `due` can be corrected. Needs values of 15 bits (Q <= 32768), or of 16 with
// `fullRange` (Q <= 65536). C is a constant so that every loop unrolls and the votes and their
// counts stay in registers.
template <std::int32_t C, bool withD, bool fullRange = false>
std::uint32_t groupVote(const std::uint32_t* differences, const std::uint32_t* syndromes,
                        const std::int32_t* offsets, const std::int16_t* nonzero,
                        std::int32_t threshold, std::uint32_t due, std::uint32_t* values) {
  constexpr std::int32_t N = C + (withD ? 1 : 0);  // votes compared
  // Each zero becomes a value of its own that no symbol takes (bit 15 and the vote's number),
  // so that equal lanes mean an equal non-zero value; it counts no votes. With `fullRange` every
  // 16-bit value is a symbol: the values are taken less 32768, so that the signed pack keeps
  // them, zeros count as equal to each other, and every zero's count is dropped afterwards.
  __m128i vote[N];
  // How many votes from this one on share the lane's value: the first vote of each value counts
  // them all, which is all that the best and the second best need (byteGroupVote says more).
  __m128i count[N];
  const __m128i one = _mm_set1_epi16(1);
  [[maybe_unused]] const __m128i lowest = _mm_set1_epi16(-32768);  // a zero, less 32768
#pragma GCC unroll 16
  for (std::int32_t k = 0; k < N; ++k) {
    const std::uint32_t* const at =
        withD ? (k == 0 ? differences : syndromes + offsets[k - 1]) : syndromes + offsets[k];
    const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 4));
    if constexpr (fullRange) {
      const __m128i bias = _mm_set1_epi32(32768);
      vote[k] = _mm_packs_epi32(_mm_sub_epi32(low, bias), _mm_sub_epi32(high, bias));
      count[k] = one;
    } else {
      const __m128i value = _mm_packs_epi32(low, high);
      const __m128i zero = _mm_cmpeq_epi16(value, _mm_setzero_si128());
      vote[k] = _mm_or_si128(
          value, _mm_and_si128(zero, _mm_set1_epi16(static_cast<std::int16_t>(0x8000 | k))));
      count[k] = _mm_andnot_si128(zero, one);
    }
  }
#pragma GCC unroll 16
  for (std::int32_t a = 0; a < N; ++a) {
#pragma GCC unroll 16
    for (std::int32_t b = a + 1; b < N; ++b) {
      const __m128i equal = _mm_cmpeq_epi16(vote[a], vote[b]);  // -1 where equal
      count[a] = _mm_sub_epi16(count[a], equal);
    }
  }
  if constexpr (fullRange) {
#pragma GCC unroll 16
    for (std::int32_t a = 0; a < N; ++a) {
      count[a] = _mm_andnot_si128(_mm_cmpeq_epi16(vote[a], lowest), count[a]);
    }
  }
  const auto lanes = [](__m128i mask) {
    return static_cast<std::uint32_t>(
        _mm_movemask_epi8(_mm_packs_epi16(mask, _mm_setzero_si128())));
  };
  // The winner needs more votes than the zero votes plus the threshold.
  __m128i best = count[0];
#pragma GCC unroll 16
  for (std::int32_t a = 1; a < N; ++a) best = _mm_max_epi16(best, count[a]);
  const __m128i zeroVotes =
      _mm_sub_epi16(_mm_set1_epi16(static_cast<std::int16_t>(C + 1)),
                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(nonzero)));
  const __m128i thresholds = _mm_set1_epi16(static_cast<std::int16_t>(threshold));
  if ((lanes(_mm_cmpgt_epi16(best, _mm_add_epi16(zeroVotes, thresholds))) & due) == 0) return 0;
  // The best non-zero value, any one of several tied (a tie corrects nothing), and the best
  // count among the other values.
  __m128i winner = _mm_setzero_si128();
#pragma GCC unroll 16
  for (std::int32_t a = 0; a < N; ++a) {
    const __m128i chosen = _mm_cmpeq_epi16(count[a], best);
    winner = _mm_or_si128(_mm_andnot_si128(chosen, winner), _mm_and_si128(chosen, vote[a]));
  }
  __m128i second = _mm_setzero_si128();
#pragma GCC unroll 16
  for (std::int32_t a = 0; a < N; ++a) {
    second = _mm_max_epi16(second, _mm_andnot_si128(_mm_cmpeq_epi16(vote[a], winner), count[a]));
  }
  const __m128i bar = _mm_add_epi16(_mm_max_epi16(second, zeroVotes), thresholds);
  if constexpr (fullRange) winner = _mm_xor_si128(winner, lowest);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(values),
                   _mm_unpacklo_epi16(winner, _mm_setzero_si128()));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(values + 4),
                   _mm_unpackhi_epi16(winner, _mm_setzero_si128()));
  return lanes(_mm_cmpgt_epi16(best, bar));
}

// `count` less, lane by lane, the lanes of `vote` that equal the lane R + 1 places further round,
// for each R: every lane meets every other once. The shifts take constants, hence the sequence.
template <int... R>
__m128i countRotations(__m128i count, __m128i vote, std::integer_sequence<int, R...>) {
  ((count = _mm_sub_epi16(
        count, _mm_cmpeq_epi16(vote, _mm_or_si128(_mm_slli_si128(vote, 2 * (R + 1)),
                                                  _mm_srli_si128(vote, 16 - 2 * (R + 1)))))),
   ...);
  return count;
}

// The vote of one symbol with C <= 8 checks: its difference d, the syndromes at
// syndromes[offsets[k]], k < C, and m, its count of non-zero votes. The checks' votes share one
// vector, and each lane counts the lanes of equal value by comparing the vector with its seven
// rotations, d included. Returns whether the vote corrects at `threshold`, with the winner in
// `a`. Needs values of 15 bits (Q <= 32768); the syndrome symbols are of type T.
template <std::int32_t C, typename T = std::uint32_t>
bool loneVote(std::uint32_t d, const T* syndromes, const std::int32_t* offsets, std::int32_t m,
              std::int32_t threshold, std::uint32_t& a) {
  // Lanes without a check hold values of their own that no symbol takes, as zeros do in
  // groupVote; the eight are gathered by a tree of unpacks rather than a chain of inserts.
  const auto lane = [syndromes, offsets](std::int32_t k) {
    return _mm_cvtsi32_si128(k < C ? static_cast<int>(syndromes[offsets[k]]) : 0x87F0 + k);
  };
  const __m128i vote0 = _mm_unpacklo_epi32(_mm_unpacklo_epi16(lane(0), lane(1)),
                                           _mm_unpacklo_epi16(lane(2), lane(3)));
  const __m128i vote1 = _mm_unpacklo_epi32(_mm_unpacklo_epi16(lane(4), lane(5)),
                                           _mm_unpacklo_epi16(lane(6), lane(7)));
  __m128i vote = _mm_unpacklo_epi64(vote0, vote1);
  const __m128i zero = _mm_cmpeq_epi16(vote, _mm_setzero_si128());
  vote = _mm_or_si128(vote, _mm_and_si128(zero, _mm_set_epi16(-32761, -32762, -32763, -32764,
                                                              -32765, -32766, -32767, -32768)));
  // A lane's count: 1 for a non-zero check vote, plus every equal lane and d if equal; 0 for a
  // lane without a check, which equals no other.
  const __m128i used = _mm_cmplt_epi16(_mm_set_epi16(7, 6, 5, 4, 3, 2, 1, 0),
                                       _mm_set1_epi16(static_cast<std::int16_t>(C)));
  // A d of 0 equals no lane: each zero lane holds a value of its own.
  const __m128i likeD = _mm_cmpeq_epi16(vote, _mm_set1_epi16(static_cast<std::int16_t>(d)));
  __m128i count =
      _mm_sub_epi16(_mm_and_si128(_mm_andnot_si128(zero, used), _mm_set1_epi16(1)), likeD);
  count = countRotations(count, vote, std::make_integer_sequence<int, 7>());
  const auto largest = [](__m128i x) {
    x = _mm_max_epi16(x, _mm_shuffle_epi32(x, 0x4E));
    x = _mm_max_epi16(x, _mm_shuffle_epi32(x, 0xB1));
    x = _mm_max_epi16(x, _mm_shufflelo_epi16(x, 0xB1));
    return static_cast<std::int32_t>(static_cast<std::int16_t>(_mm_cvtsi128_si32(x)));
  };
  const auto sum = [](__m128i x) {
    x = _mm_add_epi16(x, _mm_shuffle_epi32(x, 0x4E));
    x = _mm_add_epi16(x, _mm_shuffle_epi32(x, 0xB1));
    x = _mm_add_epi16(x, _mm_shufflelo_epi16(x, 0xB1));
    return static_cast<std::int32_t>(static_cast<std::int16_t>(_mm_cvtsi128_si32(x)));
  };
  // d's own count: that of the lanes equal to it, or 1 alone.
  const std::int32_t dVotes = d == 0 ? 0 : std::max(1, largest(_mm_and_si128(likeD, count)));
  const std::int32_t best = std::max(largest(count), dVotes);
  // A value holds `best` votes, so `best` votes have the best count unless two values tie for
  // it; without a tie the second is the best count below it. Neither needs to know the winner,
  // which is found alongside: d when it holds the best count, else the first lane holding it.
  // Everything is computed without a branch: the outcome of a vote is as good as a coin toss.
  const __m128i bestLanes = _mm_cmpeq_epi16(count, _mm_set1_epi16(static_cast<std::int16_t>(best)));
  const std::int32_t votesAtBest = -sum(bestLanes) + (dVotes == best ? 1 : 0);
  const std::int32_t below =
      std::max(largest(_mm_and_si128(
                   count, _mm_cmpgt_epi16(_mm_set1_epi16(static_cast<std::int16_t>(best)), count))),
               dVotes < best ? dVotes : 0);
  const std::int32_t second = votesAtBest > best ? best : below;
  const auto at = static_cast<std::uint32_t>(_mm_movemask_epi8(bestLanes)) | 0x10000u;
  alignas(16) std::uint16_t lanes[8];
  _mm_store_si128(reinterpret_cast<__m128i*>(lanes), vote);
  a = dVotes == best ? d : lanes[(std::countr_zero(at) / 2) & 7];
  // The winner needs more votes than the zeros and every other value, plus the threshold.
  const std::int32_t zeroVotes = C + 1 - m;
  return best - std::max(second, zeroVotes) > threshold;
}

using LoneVote = bool (*)(std::uint32_t, const std::uint32_t*, const std::int32_t*, std::int32_t,
                          std::int32_t, std::uint32_t&);

template <std::size_t... K>
constexpr std::array<LoneVote, sizeof...(K)> makeLoneVotes(std::index_sequence<K...>) {
  return {&loneVote<static_cast<std::int32_t>(K) + 1>...};
}

// loneVotes[C - 1] takes C checks.
constexpr std::int32_t largestLoneVote = 8;
inline constexpr auto loneVotes = makeLoneVotes(std::make_index_sequence<largestLoneVote>());

using GroupVoteKernel = std::uint32_t (*)(const std::uint32_t*, const std::uint32_t*,
                                          const std::int32_t*, const std::int16_t*, std::int32_t,
                                          std::uint32_t, std::uint32_t*);

template <bool withD, bool fullRange, std::size_t... C>
constexpr std::array<GroupVoteKernel, sizeof...(C)> makeGroupVoteKernels(
    std::index_sequence<C...>) {
  // Without d, C counts from 1: a vote needs at least one value.
  return {&groupVote<static_cast<std::int32_t>(C) + (withD ? 0 : 1), withD, fullRange>...};
}

// groupVoteKernels[C] takes C checks and d, groupVoteKernelsWithoutD[C - 1] C checks alone; the
// ones with FullRange for values of 16 bits.
inline constexpr auto groupVoteKernels =
    makeGroupVoteKernels<true, false>(std::make_index_sequence<largestGroupVote>());
inline constexpr auto groupVoteKernelsWithoutD =
    makeGroupVoteKernels<false, false>(std::make_index_sequence<largestGroupVote - 1>());
inline constexpr auto groupVoteKernelsFullRange =
    makeGroupVoteKernels<true, true>(std::make_index_sequence<largestGroupVote>());
inline constexpr auto groupVoteKernelsWithoutDFullRange =
    makeGroupVoteKernels<false, true>(std::make_index_sequence<largestGroupVote - 1>());

}  // namespace nbsim::votes
