// The passes of the fast decoder.
//
// The work of a pass. It counts m for eight positions at a time (sixteen with AVX2, 32 on a block
// in bytes); where two or more are due, one vector vote takes them all (vote_kernels.h,
// wide_vote_kernels.h, byte_vote_kernels.h), a lone one is voted by itself; d is left out of a
// group without a difference. The zero-syndrome test scans the flags (or the bytes) before a
// pass that follows building or a correcting pass, the only times it can change.
#include "code/decoder_passes.h"

#include <algorithm>
#include <bit>

#include "code/lane_sums.h"
#include "code/vector_support.h"

#if NBSIM_VECTOR_DECODER
#include "code/vote_kernels.h"
#endif
#if NBSIM_WIDE_DECODER
#include "code/byte_vote_kernels.h"
#include "code/wide_vote_kernels.h"
#endif

namespace nbsim {
namespace {

// Passes are specialised for one information branch of 1 .. 15 checks.
constexpr std::int32_t largestFixedChecks = 16;

// Where a stop is looked at. A pass reads about L flags per check of each information branch,
// and a vote of J checks costs up to J^2 steps; below these sizes a whole block is over in
// milliseconds, and the block loop's own look before every block is soon enough.
constexpr std::int64_t slowPassFlags = 16384;  // L x all checks, from which a pass is slow
constexpr std::int32_t slowGroupChecks = 128;  // all checks, from which a group is slow

#if NBSIM_WIDE_DECODER
// syndromeIsZero for a block in bytes, 32 symbols at a time; the mirror lets the last vector of
// a row run on past L when L >= 32.
NBSIM_AVX2 bool byteSyndromeIsZero(const DecoderBlock& block) {
  const DecoderLayout& layout = block.layout;
  const std::int32_t L = layout.L();
  __m256i any = _mm256_setzero_si256();
  for (std::int32_t v = 0; v < layout.nr(); ++v) {
    const std::uint8_t* const symbols = &block.syndromeBytes[layout.syndrome(v, 0)];
    if (L < 32) {
      for (std::int32_t j = 0; j < L; ++j) {
        if (symbols[j] != 0) return false;
      }
      continue;
    }
    for (std::int32_t j = 0; j < L; j += 32) {
      any = _mm256_or_si256(any, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(symbols + j)));
    }
  }
  return _mm256_testz_si256(any, any) != 0;
}
#endif

}  // namespace

DecoderPasses::DecoderPasses(const NonBinaryCodec& codec, const DecoderBlock& block,
                             DecoderVariant variant)
    : threshold_(codec.schedule().threshold), scalarVote_(codec.maxChecks()) {
  const auto nk = static_cast<std::size_t>(codec.code().nk);
  // The lowest threshold of the passes after each one (its own for the last).
  lowestThreshold_ = threshold_;
  for (std::int32_t k = static_cast<std::int32_t>(threshold_.size()) - 2; k >= 0; --k) {
    lowestThreshold_[k] = std::min(threshold_[k + 1], lowestThreshold_[k + 1]);
  }
#if NBSIM_VECTOR_DECODER
  groupVote_ = codec.alphabetSize() <= 65536 && codec.maxChecks() + 1 <= votes::largestGroupVote;
  fullRange_ = codec.alphabetSize() > 32768;
#endif
  const std::int32_t fixedChecks = nk == 1 ? block.checks[0] : 0;
  pass_ = passFor<PassKind::narrow>(fixedChecks, std::make_index_sequence<largestFixedChecks>());
#if NBSIM_WIDE_DECODER
  // Sixteen positions a step only where a group's votes are taken at once: a vote of one symbol
  // at a time costs the same for either width, and a correction takes the votes below it again,
  // which are twice as many in a wide group.
  if (isWide(variant) && groupVote_) {
    pass_ = passFor<PassKind::wide>(fixedChecks, std::make_index_sequence<largestFixedChecks>());
    registers32_ = variant == DecoderVariant::avx512;
  }
  if (block.bytes) {
    pass_ = passFor<PassKind::bytes>(fixedChecks, std::make_index_sequence<largestFixedChecks>());
    // One branch without a repeated tap in a check branch: a correction changes each symbol it
    // touches once, which the vectors of the window pass follow.
    const CodeDescription& code = codec.code();
    bool repeatedTap = false;
    for (std::int32_t v = 0; v < code.nr; ++v) {
      std::vector<std::int32_t> taps = code.polynomials[0][v].taps;
      std::sort(taps.begin(), taps.end());
      repeatedTap |= std::adjacent_find(taps.begin(), taps.end()) != taps.end();
    }
    if (fixedChecks > 0 && fixedChecks < largestFixedChecks && !repeatedTap) {
      pass_ = passFor<PassKind::byteWindows>(fixedChecks,
                                             std::make_index_sequence<largestFixedChecks>());
      const std::int32_t L = block.layout.L();
      windowMasks_.assign(static_cast<std::size_t>((fixedChecks + 1) * windowMaskStride), 0);
      // The differences' window: the corrected symbol's own.
      windowMasks_[64] = 0xFF;
      std::int32_t window = 1;
      for (std::int32_t v = 0; v < code.nr; ++v) {
        for (const std::int32_t t : code.polynomials[0][v].taps) {
          for (const std::int32_t u : code.polynomials[0][v].taps) {
            // Position p reads symbol p - t mod L of row v through this window, and a
            // correction at position c changes symbol c - u mod L: the same where p - c = t - u
            // modulo L. Both are positions 0 .. L - 1, so p - c - (t - u) is -L, 0 or L; a
            // group's lanes are less than 32 apart.
            for (const std::int32_t apart : {t - u - L, t - u, t - u + L}) {
              if (apart > -byteLaneStride && apart < byteLaneStride) {
                windowMasks_[static_cast<std::size_t>(window * windowMaskStride + 64 + apart)] =
                    0xFF;
              }
            }
          }
          ++window;
        }
      }
    }
    byteVotes_.assign(nk * byteLaneStride, 0);
    byteValues_.assign(nk * byteLaneStride, 0);
    // Symbol (i, c) is in check (v, c - t mod L) for every tap t of (i, v); symbol (j, c') shares
    // it where c' - t' = c - t mod L for a tap t' of (j, v): delta = c - c' = t - t' mod L.
    const std::int32_t L = block.layout.L();
    sharedChecks_.assign(nk * nk, 0);
    for (std::size_t i = 0; i < nk; ++i) {
      for (std::size_t j = 0; j < nk; ++j) {
        for (std::int32_t v = 0; v < code.nr; ++v) {
          for (const std::int32_t t : code.polynomials[i][v].taps) {
            for (const std::int32_t u : code.polynomials[j][v].taps) {
              const std::int32_t apart = ((t - u) % L + L) % L;
              for (std::int32_t delta = 1; delta <= byteLaneStride; ++delta) {
                if (delta % L == apart)
                  sharedChecks_[i * nk + j] |= std::uint64_t{1} << (32 - delta);
              }
            }
          }
        }
      }
    }
  }
#else
  static_cast<void>(variant);
#endif
  std::int64_t allChecks = 0;
  for (const std::int32_t J : block.checks) allChecks += J;
  slowPasses_ = allChecks * block.layout.L() >= slowPassFlags;
  slowGroups_ = slowPasses_ && allChecks >= slowGroupChecks;
  groupVotes_.assign(nk * laneStride, 0);
  groupValues_.assign(nk * laneStride, 0);
  dueLanes_.assign(nk, 0);
  correctingLanes_.assign(nk, 0);
  needed_.assign(nk, 0);
  lowestNeeded_.assign(nk, 0);
}

// Skipped passes. A pass that corrects nothing leaves the block as it was, so a following pass
// whose threshold is no lower corrects nothing either. If no syndrome symbol went from zero to
// non-zero during a pass, no count rose after the pass visited it, and a count only changes at
// a visit through its own d; so if no visited symbol reached the bound of the lowest threshold
// still to come (after its own correction, if it had one), no later pass corrects anything. A
// block whose syndrome is all zero is never corrected again: with n = 0 the filter needs
// J + threshold + 2[d = 0] <= 0, and J = 0 means a symbol without checks, whose d stays 0. A
// skipped pass still adds its error count.
void DecoderPasses::watch(const DecodeStop& stop) {
  stop_ = stop;
  watching_ = slowPasses_ && !stop.none();
  watchingGroups_ = slowGroups_ && !stop.none();
}

bool DecoderPasses::run(DecoderBlock& block, std::int64_t* errors) {
  const bool watching = watching_;
  const auto passes = static_cast<std::int32_t>(threshold_.size());
  bool ran = false;
  bool lastCorrected = false;
  std::int32_t lastThreshold = 0;
  std::int32_t k = 0;
  // Up to the first pass from which none corrects anything.
  for (; k < passes; ++k) {
    const std::int32_t threshold = threshold_[k];
    if (ran && !lastCorrected) {
      // The block is as the last pass left it, which corrected nothing: neither does a pass at
      // a threshold no lower, nor any pass left when none has a lower one.
      if (std::min(threshold, lowestThreshold_[k]) >= lastThreshold) break;
      if (threshold >= lastThreshold) {
        errors[k + 1] += block.wrong;
        continue;
      }
    } else if (syndromeIsZero(block)) {
      // A zero syndrome ends all corrections; it changes only where a pass corrects.
      break;
    }
    if (watching && stop_.raised()) return false;
    bool reached = false;
    syndromeRaised_ = false;
    lastCorrected = (this->*pass_)(block, threshold, lowestThreshold_[k], reached);
    if (watching && abandoned_) {
      abandoned_ = false;
      return false;
    }
    lastThreshold = threshold;
    ran = true;
    errors[k + 1] += block.wrong;
    if (!syndromeRaised_ && !reached) {
      ++k;
      break;
    }
  }
  // The passes left keep the block as it is.
  for (; k < passes; ++k) errors[k + 1] += block.wrong;
  return true;
}

bool DecoderPasses::takeBytes(const NonBinaryCodec& codec, DecoderVariant variant) {
#if NBSIM_WIDE_DECODER
  return isWide(variant) && codec.alphabetSize() <= 256 &&
         codec.maxChecks() + 1 <= votes::largestGroupVote;
#else
  static_cast<void>(codec);
  static_cast<void>(variant);
  return false;
#endif
}

bool DecoderPasses::syndromeIsZero(const DecoderBlock& block) {
  const DecoderLayout& layout = block.layout;
  const std::int32_t L = layout.L();
  const auto hint = static_cast<std::size_t>(block.likelyNonzero);
  if (block.bytes ? block.syndromeBytes[hint] != 0 : block.nonzero[hint] != 0) return false;
#if NBSIM_WIDE_DECODER
  if (block.bytes) return byteSyndromeIsZero(block);
#endif
  for (std::int32_t v = 0; v < layout.nr() && !block.bytes; ++v) {
    const std::int16_t* const flags = &block.nonzero[layout.syndrome(v, 0)];
    std::int32_t j = 0;
#if NBSIM_VECTOR_DECODER
    __m128i any = _mm_setzero_si128();
    for (; j + 8 <= L; j += 8) {
      any = _mm_or_si128(any, _mm_loadu_si128(reinterpret_cast<const __m128i*>(flags + j)));
    }
    if (_mm_movemask_epi8(_mm_cmpeq_epi16(any, _mm_setzero_si128())) != 0xFFFF) return false;
#endif
    for (; j < L; ++j) {
      if (flags[j] != 0) return false;
    }
  }
  return true;
}

// Inline: it runs for every group of every pass, and its set-up would cost as much as its work.
template <std::int32_t fixedChecks>
[[gnu::always_inline]] inline std::uint32_t DecoderPasses::countGroup(const BranchCounts& branch,
                                                                      std::int32_t first,
                                                                      std::uint32_t& reached) {
  // Every flag read below stands at a non-negative index: offset + first >= flagPad - 6.
  const std::int16_t* const flags = branch.flags + first;
  const std::int16_t* const changed = branch.changed + first;
  const std::int32_t* offset = branch.offsets;
  const std::int32_t* const end = branch.offsetsEnd;
  std::int16_t* const votes = branch.votes;
#if NBSIM_VECTOR_DECODER
  const auto load = [](const std::int16_t* at) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
  };
  const auto lanes = [](__m128i mask) {
    return static_cast<std::uint32_t>(
        _mm_movemask_epi8(_mm_packs_epi16(mask, _mm_setzero_si128())));
  };
  const __m128i sum = addLanesAt<fixedChecks>(load(changed), flags, offset, end);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(votes), sum);
  reached =
      lanes(_mm_cmpgt_epi16(sum, _mm_set1_epi16(static_cast<std::int16_t>(branch.lowest - 1))));
  return lanes(_mm_cmpgt_epi16(sum, _mm_set1_epi16(static_cast<std::int16_t>(branch.needed - 1))));
#else
  for (std::int32_t k = 0; k < 8; ++k) votes[k] = changed[k];
  for (; offset != end; ++offset) {
    for (std::int32_t k = 0; k < 8; ++k) {
      votes[k] = static_cast<std::int16_t>(votes[k] + flags[*offset + k]);
    }
  }
  std::uint32_t due = 0;
  reached = 0;
  for (std::int32_t k = 0; k < 8; ++k) {
    if (votes[k] >= branch.lowest) reached |= 1u << k;
    if (votes[k] >= branch.needed) due |= 1u << k;
  }
  return due;
#endif
}

#if NBSIM_WIDE_DECODER
// Inlined into the wide passes, which are flattened.
template <std::int32_t fixedChecks>
NBSIM_AVX2 std::uint32_t DecoderPasses::countWideGroup(const BranchCounts& branch,
                                                       std::int32_t first, std::uint32_t& reached) {
  // Every flag read stands at a non-negative index: offset + first >= flagPad - 14.
  const __m256i sum = votes::addWideLanesAt<fixedChecks>(
      _mm256_loadu_si256(reinterpret_cast<const __m256i*>(branch.changed + first)),
      branch.flags + first, branch.offsets, branch.offsetsEnd);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(branch.votes), sum);
  reached = votes::wideLanes(
      _mm256_cmpgt_epi16(sum, _mm256_set1_epi16(static_cast<std::int16_t>(branch.lowest - 1))));
  return votes::wideLanes(
      _mm256_cmpgt_epi16(sum, _mm256_set1_epi16(static_cast<std::int16_t>(branch.needed - 1))));
}
#endif

// Inline: a plain call into the vote, with nothing of its own to do.
inline bool DecoderPasses::findCorrection(const DecoderBlock& block, std::int32_t i, std::int32_t c,
                                          std::int32_t threshold, Symbol& a) {
  const std::int32_t* const offsets = block.checkOffsets.data();
  return scalarVote_.findCorrection(block.difference[block.layout.changed(i, c)],
                                    block.syndrome.data() + c, offsets + block.tapStart[i],
                                    offsets + block.tapStart[i + 1], threshold, a);
}

template <bool wide>
std::uint32_t DecoderPasses::voteGroup(const DecoderBlock& block, std::int32_t i,
                                       std::int32_t first, std::int32_t threshold,
                                       std::uint32_t due) {
  std::uint32_t* const values = &groupValues_[i * laneStride];
#if NBSIM_VECTOR_DECODER
  const DecoderLayout& layout = block.layout;
  const std::int32_t J = block.checks[i];
  const std::int32_t* const offsets = block.checkOffsets.data() + block.tapStart[i];
#if NBSIM_WIDE_DECODER
  if constexpr (wide) {
    if (groupVote_ && ((due & (due - 1)) != 0 || fullRange_)) {
      // As below, on sixteen positions; 128-bit, so that this stays plain code.
      const std::int32_t at = layout.changed(i, first);
      const __m128i any =
          _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(&block.changed[at])),
                       _mm_loadu_si128(reinterpret_cast<const __m128i*>(&block.changed[at + 8])));
      const bool withD = _mm_movemask_epi8(_mm_cmpeq_epi16(any, _mm_setzero_si128())) != 0xFFFF;
      const votes::WideGroupVoteKernel kernel =
          fullRange_
              ? (withD || J == 0 ? (registers32_ ? votes::wideGroupVoteKernelsFullRange32
                                                 : votes::wideGroupVoteKernelsFullRange)[J]
                                 : (registers32_ ? votes::wideGroupVoteKernelsWithoutDFullRange32
                                                 : votes::wideGroupVoteKernelsWithoutDFullRange)
                                       [J - 1])
          : withD || J == 0
              ? (registers32_ ? votes::wideGroupVoteKernels32 : votes::wideGroupVoteKernels)[J]
              : (registers32_ ? votes::wideGroupVoteKernelsWithoutD32
                              : votes::wideGroupVoteKernelsWithoutD)[J - 1];
      return due & kernel(&block.difference[at], block.syndrome.data() + first, offsets,
                          &groupVotes_[i * laneStride], threshold, due, values);
    }
  }
#endif
  // A lone vote costs less by itself: at a low P0 it is mostly a lone error being corrected.
  // Values of 16 bits have no lone vote of their own: theirs is a group vote, still far cheaper
  // than the scalar one.
  if (!wide && groupVote_ && ((due & (due - 1)) != 0 || fullRange_)) {
    // Every value read stands at a non-negative index, as in countGroup.
    // Where no position of the group has a difference, d takes no part in the comparisons.
    const std::int32_t at = layout.changed(i, first);
    const bool withD = _mm_movemask_epi8(_mm_cmpeq_epi16(
                           _mm_loadu_si128(reinterpret_cast<const __m128i*>(&block.changed[at])),
                           _mm_setzero_si128())) != 0xFFFF;
    const votes::GroupVoteKernel kernel =
        fullRange_ ? (withD || J == 0 ? votes::groupVoteKernelsFullRange[J]
                                      : votes::groupVoteKernelsWithoutDFullRange[J - 1])
        : withD || J == 0 ? votes::groupVoteKernels[J]
                          : votes::groupVoteKernelsWithoutD[J - 1];
    return due & kernel(&block.difference[at], block.syndrome.data() + first, offsets,
                        &groupVotes_[i * laneStride], threshold, due, values);
  }
  if (groupVote_ && J >= 1 && J <= votes::largestLoneVote) {
    const std::int32_t lane = std::countr_zero(due);
    const std::int32_t c = first + lane;
#if NBSIM_WIDE_DECODER
    const votes::LoneVote vote = wide ? votes::wideLoneVotes[J - 1] : votes::loneVotes[J - 1];
#else
    const votes::LoneVote vote = votes::loneVotes[J - 1];
#endif
    return vote(block.difference[layout.changed(i, c)], block.syndrome.data() + c, offsets,
                groupVotes_[i * laneStride + lane], threshold, values[lane])
               ? due
               : 0;
  }
#endif
  std::uint32_t correcting = 0;
  for (std::uint32_t rest = due; rest != 0; rest &= rest - 1) {
    const std::int32_t lane = std::countr_zero(rest);
    Symbol a = 0;
    if (findCorrection(block, i, first + lane, threshold, a)) {
      correcting |= 1u << lane;
      values[lane] = static_cast<std::uint32_t>(a);
    }
  }
  return correcting;
}

template <std::int32_t fixedChecks>
std::int32_t DecoderPasses::nonzeroVotes(const DecoderBlock& block, std::int32_t i,
                                         std::int32_t c) {
  std::int32_t votes = block.changed[block.layout.changed(i, c)];
  const std::int32_t* const offsets = block.checkOffsets.data() + block.tapStart[i];
  const std::int32_t J = fixedChecks > 0 ? fixedChecks : block.tapStart[i + 1] - block.tapStart[i];
#pragma GCC unroll 16
  for (std::int32_t k = 0; k < J; ++k) votes += block.nonzero[offsets[k] + c];
  return votes;
}

DecoderPasses::BranchCounts DecoderPasses::branchCounts(const DecoderBlock& block, std::int32_t i) {
  return {block.nonzero.data(),
          &block.changed[block.layout.changed(i, 0)],
          block.checkOffsets.data() + block.tapStart[i],
          block.checkOffsets.data() + block.tapStart[i + 1],
          &groupVotes_[i * laneStride],
          needed_[i],
          lowestNeeded_[i]};
}

template <DecoderPasses::PassKind kind, std::size_t... fixedChecks>
DecoderPasses::Pass DecoderPasses::passFor(std::int32_t checks,
                                           std::index_sequence<fixedChecks...>) {
  const auto pass = [](auto checks) -> Pass {
    constexpr auto fixed = static_cast<std::int32_t>(decltype(checks)::value);
#if NBSIM_WIDE_DECODER
    if constexpr (kind == PassKind::bytes) return &DecoderPasses::runBytePass<fixed>;
    if constexpr (kind == PassKind::byteWindows) {
      // Only for one branch of a fixed number of checks: never chosen for 0.
      if constexpr (fixed > 0) return &DecoderPasses::runByteWindowPass<fixed>;
      return nullptr;
    }
#endif
    if constexpr (kind == PassKind::wide) return &DecoderPasses::runWidePass<fixed>;
    return &DecoderPasses::runPass<fixed>;
  };
  const Pass passes[] = {pass(std::integral_constant<std::size_t, fixedChecks>())...};
  return checks > 0 && checks < static_cast<std::int32_t>(sizeof...(fixedChecks)) ? passes[checks]
                                                                                  : passes[0];
}

// The candidate filter. A vote on symbol (i, c) has J + 1 votes: its difference d (weight 1) and
// the J syndrome symbols of its checks, n of them non-zero. The value 0 gets J - n + [d = 0]
// votes; a value a != 0 at most n + [d = a]. A correction needs a != 0 to lead every other value,
// 0 included, by more than the threshold (>= 0): n + [d = a] - (J - n + [d = 0]) > threshold,
// that is 2n >= J + threshold + 2[d = 0] (the two brackets never both hold), or with the count of
// non-zero votes m = n + [d != 0]: 2m >= J + threshold + 2, m >= (J + threshold + 3) / 2 in
// integers. Symbols below it cannot be corrected and get no vote. Dropping [d = 0] would not be
// exact: a symbol already corrected (d != 0) can be corrected back with only half of its
// syndromes non-zero.
template <std::int32_t fixedChecks>
bool DecoderPasses::runPass(DecoderBlock& block, std::int32_t threshold,
                            std::int32_t lowestThreshold, bool& lowestReached) {
  return passBody<fixedChecks, false>(block, threshold, lowestThreshold, lowestReached);
}

// Flattened, so that the 256-bit counts and everything else of the pass are inlined into it.
#if NBSIM_WIDE_DECODER
#define NBSIM_WIDE_PASS NBSIM_AVX2 [[gnu::flatten]]
#else
#define NBSIM_WIDE_PASS
#endif
template <std::int32_t fixedChecks>
NBSIM_WIDE_PASS bool DecoderPasses::runWidePass(DecoderBlock& block, std::int32_t threshold,
                                                std::int32_t lowestThreshold, bool& lowestReached) {
  return passBody<fixedChecks, true>(block, threshold, lowestThreshold, lowestReached);
}

template <std::int32_t fixedChecks, bool wide>
[[gnu::always_inline]] inline bool DecoderPasses::passBody(DecoderBlock& block,
                                                           std::int32_t threshold,
                                                           std::int32_t lowestThreshold,
                                                           bool& lowestReached) {
  // Positions a step, and the lanes that stand for them.
  constexpr std::int32_t width = wide ? 16 : 8;
  constexpr std::uint32_t allLanes = (1u << width) - 1;
  bool corrected = false;
  // A local flag, not the caller's: a store through a bool may alias any member and would
  // make every group reload them.
  bool reachedLowest = false;
  const std::int32_t nk = fixedChecks > 0 ? 1 : block.layout.nk();
  for (std::int32_t i = 0; i < nk; ++i) {
    needed_[i] = (block.checks[i] + threshold + 3) / 2;
    lowestNeeded_[i] = (block.checks[i] + std::min(threshold, lowestThreshold) + 3) / 2;
  }
  // With one branch its view stays in registers across the pass.
  const BranchCounts single = fixedChecks > 0 ? branchCounts(block, 0) : BranchCounts{};
  // Only the passes for any code look for a stop within: the others serve codes of at most 15
  // checks.
  const bool watchingGroups = fixedChecks == 0 && watchingGroups_;
  // Positions descending, branches ascending, as the plain decoder, `width` positions a step. A
  // symbol that reaches the lowest bound of this and the later passes without a correction
  // tells that they may correct (told at times for lanes below a correction too: that only
  // costs a pass).
  std::int32_t top = block.layout.L() - 1;
  while (top >= 0) {
    if (watchingGroups && stop_.raised()) {
      abandoned_ = true;
      break;
    }
    const std::int32_t first = top - (width - 1);
    // Positions below 0 read the padding or the upper half; they are not positions.
    // Without a branch: the last group of every pass would mispredict it.
    const std::uint32_t positions = (allLanes << std::max(0, width - 1 - top)) & allLanes;
    std::uint32_t due = 0;
    for (std::int32_t i = 0; i < nk; ++i) {
      std::uint32_t reached = 0;
      const BranchCounts& branch = fixedChecks > 0 ? single : branchCounts(block, i);
      std::uint32_t lanes = 0;
#if NBSIM_WIDE_DECODER
      if constexpr (wide) lanes = countWideGroup<fixedChecks>(branch, first, reached);
#endif
      if constexpr (!wide) lanes = countGroup<fixedChecks>(branch, first, reached);
      dueLanes_[i] = lanes & positions;
      due |= dueLanes_[i];
      if ((reached & positions & ~dueLanes_[i]) != 0) reachedLowest = true;
    }
    std::uint32_t correcting = 0;
    for (std::int32_t i = 0; i < nk && due != 0; ++i) {
      if (dueLanes_[i] == 0) {
        correctingLanes_[i] = 0;
        continue;
      }
      correctingLanes_[i] = voteGroup<wide>(block, i, first, threshold, dueLanes_[i]);
      correcting |= correctingLanes_[i];
      if ((dueLanes_[i] & ~correctingLanes_[i]) != 0) reachedLowest = true;
    }
    if (correcting == 0) {
      top -= width;
      continue;
    }
    // The highest correction of the group comes first; the votes below it are taken again
    // from the position under it.
    const std::int32_t lane = 31 - std::countl_zero(correcting);
    const std::int32_t c = first + lane;
    bool changed = false;
    for (std::int32_t i = 0; i < nk; ++i) {
      if (!changed) {
        // Branches before the first correction voted on the block as it still is.
        if (((correctingLanes_[i] >> lane) & 1) == 0) continue;
        applyCorrection<fixedChecks>(block, i, c, block.Q - groupValues_[i * laneStride + lane]);
        changed = true;
      } else {
        // After a correction at this position: count afresh and vote wherever the count
        // allows.
        const std::int32_t votes = nonzeroVotes(block, i, c);
        if (votes < lowestNeeded_[i]) continue;
        Symbol a = 0;
        if (votes < needed_[i] || !findCorrection(block, i, c, threshold, a)) {
          reachedLowest = true;
          continue;
        }
        applyCorrection(block, i, c, block.Q - static_cast<std::uint32_t>(a));
      }
      corrected = true;
      // The symbol is not visited again in this pass: what it keeps decides for the rest.
      if (nonzeroVotes<fixedChecks>(block, i, c) >= lowestNeeded_[i]) reachedLowest = true;
    }
    top = c - 1;
  }
  lowestReached = reachedLowest;
  return corrected;
}

template <std::int32_t fixedChecks>
void DecoderPasses::applyCorrection(DecoderBlock& block, std::int32_t i, std::int32_t c,
                                    std::uint32_t minusA) {
  // Every check branch keeps its syndrome consistent.
  syndromeRaised_ |= block.addAlongChecks<true, fixedChecks>(i, c, minusA);
  const std::int32_t index = block.layout.decision(i, c);
  const std::int32_t flagIndex = block.layout.changed(i, c);
  const std::uint32_t Q = block.Q;
  const auto subtract = [Q, minusA](std::uint32_t x) { return reducedOnce(x + minusA, Q); };
  block.difference[flagIndex] = subtract(block.difference[flagIndex]);
  block.changed[flagIndex] = block.difference[flagIndex] != 0 ? 1 : 0;
  const bool wasWrong = block.decision[index] != 0;
  block.decision[index] = subtract(block.decision[index]);
  block.wrong += (block.decision[index] != 0) - static_cast<std::int32_t>(wasWrong);
}

#if NBSIM_WIDE_DECODER
template <std::int32_t fixedChecks>
NBSIM_AVX2 [[gnu::always_inline]] inline std::uint32_t DecoderPasses::countByteGroup(
    const DecoderBlock& block, std::int32_t i, std::int32_t first, std::int32_t needed,
    std::int32_t lowestNeeded, std::uint32_t& reached) {
  // Every value read stands at a non-negative index: offset + first >= flagPad - 30.
  const std::int32_t* const offsets = block.checkOffsets.data() + block.tapStart[i];
  const __m256i m = votes::countNonzeroBytes<fixedChecks>(
      &block.differenceBytes[block.layout.changed(i, first)], block.syndromeBytes.data() + first,
      offsets, block.checkOffsets.data() + block.tapStart[i + 1]);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(&byteVotes_[i * byteLaneStride]), m);
  reached = votes::lanesReaching(m, lowestNeeded);
  return votes::lanesReaching(m, needed);
}

NBSIM_AVX2 std::uint32_t DecoderPasses::voteByteGroup(const DecoderBlock& block, std::int32_t i,
                                                      std::int32_t first, std::int32_t threshold,
                                                      std::uint32_t due, std::uint32_t kept) {
  std::uint8_t* const values = &byteValues_[i * byteLaneStride];
  const DecoderLayout& layout = block.layout;
  const std::int32_t J = block.checks[i];
  const std::int32_t* const offsets = block.checkOffsets.data() + block.tapStart[i];
  if ((due & (due - 1)) != 0) {
    // Where no position voted or kept has a difference, d takes no part in the comparisons: a
    // lane with a difference gets a wrong count, but none of them is read.
    const std::int32_t at = layout.changed(i, first);
    const bool withD =
        (~votes::byteLanes(votes::zeroBytes(&block.differenceBytes[at])) & (due | kept)) != 0;
    const votes::ByteGroupVoteKernel kernel =
        withD || J == 0
            ? (registers32_ ? votes::byteGroupVoteKernels32 : votes::byteGroupVoteKernels)[J]
            : (registers32_ ? votes::byteGroupVoteKernelsWithoutD32
                            : votes::byteGroupVoteKernelsWithoutD)[J - 1];
    return due & kernel(&block.differenceBytes[at], block.syndromeBytes.data() + first, offsets,
                        &byteVotes_[i * byteLaneStride], threshold, due, values);
  }
  const std::int32_t lane = std::countr_zero(due);
  const std::int32_t c = first + lane;
  if (J >= 1 && J <= votes::largestLoneVote) {
    std::uint32_t a = 0;
    const bool corrects = votes::byteLoneVotes[J - 1](
        block.differenceBytes[layout.changed(i, c)], block.syndromeBytes.data() + c, offsets,
        byteVotes_[i * byteLaneStride + lane], threshold, a);
    values[lane] = static_cast<std::uint8_t>(a);
    return corrects ? due : 0;
  }
  Symbol a = 0;
  if (!findByteCorrection(block, i, c, threshold, a)) return 0;
  values[lane] = static_cast<std::uint8_t>(a);
  return due;
}

// As passBody, 32 positions a step, with one difference: the groups stay where they are. A
// correction changes the syndrome symbols of the corrected symbol's checks and its own
// difference, so the votes below it that read none of them stay as they were taken; only the
// lanes that share a check with it are counted and voted again.
template <std::int32_t fixedChecks>
NBSIM_WIDE_PASS bool DecoderPasses::runBytePass(DecoderBlock& block, std::int32_t threshold,
                                                std::int32_t lowestThreshold, bool& lowestReached) {
  constexpr std::int32_t width = byteLaneStride;
  bool corrected = false;
  bool reachedLowest = false;  // local, as in passBody
  const std::int32_t nk = fixedChecks > 0 ? 1 : block.layout.nk();
  // Locals, not members: a store through a byte of the block may alias any member and would
  // make every step reload them.
  constexpr std::int32_t branches = CodeDescription::maxUsedBranches;
  std::int32_t needed[branches] = {};
  std::int32_t lowestNeeded[branches] = {};
  std::uint32_t correctingLanes[branches] = {};
  for (std::int32_t i = 0; i < nk; ++i) {
    needed[i] = (block.checks[i] + threshold + 3) / 2;
    lowestNeeded[i] = (block.checks[i] + std::min(threshold, lowestThreshold) + 3) / 2;
  }
  const std::uint8_t* const values = byteValues_.data();
  const std::uint64_t* const sharedChecks = sharedChecks_.data();
  const bool watchingGroups = fixedChecks == 0 && watchingGroups_;
  const auto nkSize = static_cast<std::size_t>(nk);
  for (std::int32_t first = block.layout.L() - width;; first -= width) {
    if (watchingGroups && stop_.raised()) {
      abandoned_ = true;
      break;
    }
    // Lanes below position 0 read the padding or the upper half; they are not positions.
    const std::uint32_t positions = ~0u << std::max(0, -first);
    std::uint32_t correcting = 0;
    for (std::int32_t i = 0; i < nk; ++i) {
      std::uint32_t reached = 0;
      const std::uint32_t due =
          countByteGroup<fixedChecks>(block, i, first, needed[i], lowestNeeded[i], reached) &
          positions;
      if ((reached & positions & ~due) != 0) reachedLowest = true;
      correctingLanes[i] = due != 0 ? voteByteGroup(block, i, first, threshold, due, 0) : 0;
      if ((due & ~correctingLanes[i]) != 0) reachedLowest = true;
      correcting |= correctingLanes[i];
    }
    while (correcting != 0) {
      // The highest correction still due comes first.
      const std::int32_t lane = 31 - std::countl_zero(correcting);
      const std::int32_t c = first + lane;
      // The lanes below the correction, per branch, that its corrections may change, and the
      // branches corrected here.
      std::uint32_t touched[CodeDescription::maxUsedBranches] = {};
      bool correctedHere[CodeDescription::maxUsedBranches] = {};
      bool changed = false;
      for (std::int32_t i = 0; i < nk; ++i) {
        if (!changed) {
          if (((correctingLanes[i] >> lane) & 1) == 0) continue;
          applyByteCorrection<fixedChecks>(block, i, c,
                                           block.Q - values[i * byteLaneStride + lane]);
          changed = true;
        } else {
          const std::int32_t votes = nonzeroByteVotes(block, i, c);
          if (votes < lowestNeeded[i]) continue;
          Symbol a = 0;
          if (votes < needed[i] || !findByteCorrection(block, i, c, threshold, a)) {
            reachedLowest = true;
            continue;
          }
          applyByteCorrection(block, i, c, block.Q - static_cast<std::uint32_t>(a));
        }
        corrected = true;
        correctedHere[i] = true;
        for (std::size_t j = 0; j < nkSize; ++j) {
          touched[j] |= static_cast<std::uint32_t>(
              sharedChecks[static_cast<std::size_t>(i) * nkSize + j] >> (32 - lane));
        }
      }
      const std::uint32_t below = positions & ((1u << lane) - 1);
      correcting = 0;
      for (std::int32_t i = 0; i < nk; ++i) {
        const std::uint32_t again = touched[i] & below;
        std::uint32_t kept = correctingLanes[i] & below & ~again;
        if (again != 0 || correctedHere[i]) {
          std::uint32_t reached = 0;
          const std::uint32_t due =
              countByteGroup<fixedChecks>(block, i, first, needed[i], lowestNeeded[i], reached) &
              again;
          if ((reached & again & ~due) != 0) reachedLowest = true;
          // The corrected symbol is not visited again in this pass: what it keeps decides for
          // the rest.
          if (correctedHere[i] && ((reached >> lane) & 1) != 0) reachedLowest = true;
          const std::uint32_t votes =
              due != 0 ? voteByteGroup(block, i, first, threshold, due, kept) : 0;
          if ((due & ~votes) != 0) reachedLowest = true;
          kept |= votes;
        }
        correctingLanes[i] = kept;
        correcting |= kept;
      }
    }
    if (first <= 0) break;
  }
  lowestReached = reachedLowest;
  return corrected;
}

// As runBytePass for one information branch, the group's values in vectors: window[0] holds the
// differences and window[1 + k] the syndrome symbols that check k reads, for the group's 32
// positions. A correction stores its bytes as in runBytePass and adds its value to the vectors
// where they read what it changed, its own difference included; the positions above it are not
// read again.
template <std::int32_t fixedChecks>
NBSIM_WIDE_PASS bool DecoderPasses::runByteWindowPass(DecoderBlock& block, std::int32_t threshold,
                                                      std::int32_t lowestThreshold,
                                                      bool& lowestReached) {
  constexpr std::int32_t J = fixedChecks;
  bool corrected = false;
  bool reachedLowest = false;  // local, as in passBody
  const std::int32_t needed = (J + threshold + 3) / 2;
  const std::int32_t lowestNeeded = (J + std::min(threshold, lowestThreshold) + 3) / 2;
  const std::uint32_t Q = block.Q;
  const std::int32_t* const offsets = block.checkOffsets.data();
  const std::uint8_t* const syndromes = block.syndromeBytes.data();
  const std::uint8_t* const differences = &block.differenceBytes[block.layout.changed(0, 0)];
  std::uint8_t* const values = byteValues_.data();
  std::int8_t* const counts = byteVotes_.data();
  const std::uint64_t shared = sharedChecks_[0];
  const std::uint8_t* const masks = windowMasks_.data();
  // Stores to the block's bytes may alias any member; the kernels in locals.
  const votes::ByteWindowVoteKernel withD =
      registers32_ ? &votes::byteWindowVote32<J, true> : &votes::byteWindowVote<J, true>;
  const votes::ByteWindowVoteKernel withoutD =
      registers32_ ? &votes::byteWindowVote32<J, false> : &votes::byteWindowVote<J, false>;
  const __m256i modulus = _mm256_set1_epi8(static_cast<char>(Q));  // 0 for Q = 256
  alignas(32) __m256i window[J + 1];
  const __m256i zero = _mm256_setzero_si256();
  // m for the group's 32 positions, into `counts`; the lanes reaching `needed`, and through
  // `reached` those reaching `lowestNeeded`.
  const auto count = [&](std::uint32_t* reached) __attribute__((target("avx2"))) {
    const __m256i m = votes::countNonzeroVotes<J>(window);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(counts), m);
    *reached = votes::lanesReaching(m, lowestNeeded);
    return votes::lanesReaching(m, needed);
  };
  // The lanes of `due` whose vote corrects, with their values in `values`; those of `kept` stay
  // right, as in voteByteGroup.
  const auto vote = [&](std::int32_t first, std::uint32_t due, std::uint32_t kept)
      __attribute__((target("avx2"))) {
    if ((due & (due - 1)) != 0) {
      const bool anyD = (~votes::byteLanes(_mm256_cmpeq_epi8(window[0], zero)) & (due | kept)) != 0;
      return due & (anyD ? withD(window, counts, threshold, due, values)
                         : withoutD(window + 1, counts, threshold, due, values));
    }
    // The lone vote of voteByteGroup, inlined here: calling voteByteGroup for it made the
    // default sweep 2 % slower.
    const std::int32_t lane = std::countr_zero(due);
    const std::int32_t c = first + lane;
    std::uint32_t a = 0;
    bool corrects = false;
    if constexpr (J <= votes::largestLoneVote) {
      corrects = votes::byteLoneVote<J>(differences[c], syndromes + c, offsets, counts[lane],
                                        threshold, a);
    } else {
      Symbol found = 0;
      corrects = findByteCorrection(block, 0, c, threshold, found);
      a = static_cast<std::uint32_t>(found);
    }
    values[lane] = static_cast<std::uint8_t>(a);
    return corrects ? due : 0;
  };
  for (std::int32_t first = block.layout.L() - byteLaneStride;; first -= byteLaneStride) {
    // Lanes below position 0 read the padding or the upper half; they are not positions.
    const std::uint32_t positions = ~0u << std::max(0, -first);
    window[0] = votes::loadBytes(differences + first);
#pragma GCC unroll 16
    for (std::int32_t k = 0; k < J; ++k) {
      window[1 + k] = votes::loadBytes(syndromes + offsets[k] + first);
    }
    std::uint32_t reached = 0;
    std::uint32_t due = count(&reached) & positions;
    if ((reached & positions & ~due) != 0) reachedLowest = true;
    std::uint32_t correcting = due != 0 ? vote(first, due, 0) : 0;
    if ((due & ~correcting) != 0) reachedLowest = true;
    while (correcting != 0) {
      // The highest correction still due comes first.
      const std::int32_t lane = 31 - std::countl_zero(correcting);
      const std::uint32_t minusA = Q - values[lane];
      applyByteCorrection<J>(block, 0, first + lane, minusA);
      corrected = true;
      // Its value into every window lane that reads one of its checks or its difference,
      // modulo Q: the smaller of the sum and the sum less Q, each taken on bytes (the sum
      // saturating, so that a sum past 255 stays above the other).
      const __m256i added = _mm256_set1_epi8(static_cast<char>(minusA));
#pragma GCC unroll 16
      for (std::int32_t k = 0; k <= J; ++k) {
        const __m256i x =
            _mm256_and_si256(votes::loadBytes(masks + k * windowMaskStride + 64 - lane), added);
        if (Q == 256) {
          window[k] = _mm256_add_epi8(window[k], x);
        } else {
          // Lanes without the value add 0 and subtract Q, which wraps above the symbol.
          window[k] = _mm256_min_epu8(_mm256_adds_epu8(window[k], x),
                                      _mm256_sub_epi8(window[k], _mm256_sub_epi8(modulus, x)));
        }
      }
      const std::uint32_t below = positions & ((1u << lane) - 1);
      const std::uint32_t again = static_cast<std::uint32_t>(shared >> (32 - lane)) & below;
      const std::uint32_t kept = correcting & below & ~again;
      due = count(&reached) & again;
      if ((reached & again & ~due) != 0) reachedLowest = true;
      // The corrected symbol is not visited again in this pass: what it keeps decides for the
      // rest.
      if (((reached >> lane) & 1) != 0) reachedLowest = true;
      const std::uint32_t votes = due != 0 ? vote(first, due, kept) : 0;
      if ((due & ~votes) != 0) reachedLowest = true;
      correcting = kept | votes;
    }
    if (first <= 0) break;
  }
  lowestReached = reachedLowest;
  return corrected;
}

#endif

template <std::int32_t fixedChecks>
std::int32_t DecoderPasses::nonzeroByteVotes(const DecoderBlock& block, std::int32_t i,
                                             std::int32_t c) {
  std::int32_t votes = block.differenceBytes[block.layout.changed(i, c)] != 0;
  const std::int32_t* const offsets = block.checkOffsets.data() + block.tapStart[i];
  const std::int32_t J = fixedChecks > 0 ? fixedChecks : block.tapStart[i + 1] - block.tapStart[i];
#pragma GCC unroll 16
  for (std::int32_t k = 0; k < J; ++k) votes += block.syndromeBytes[offsets[k] + c] != 0;
  return votes;
}

bool DecoderPasses::findByteCorrection(const DecoderBlock& block, std::int32_t i, std::int32_t c,
                                       std::int32_t threshold, Symbol& a) {
  const std::int32_t* const offsets = block.checkOffsets.data();
  return scalarVote_.findCorrection(block.differenceBytes[block.layout.changed(i, c)],
                                    block.syndromeBytes.data() + c, offsets + block.tapStart[i],
                                    offsets + block.tapStart[i + 1], threshold, a);
}

template <std::int32_t fixedChecks>
void DecoderPasses::applyByteCorrection(DecoderBlock& block, std::int32_t i, std::int32_t c,
                                        std::uint32_t minusA) {
  syndromeRaised_ |= block.addAlongByteChecks<true, fixedChecks>(i, c, minusA);
  const std::uint32_t Q = block.Q;
  const auto subtract = [Q, minusA](std::uint32_t x) { return reducedOnce(x + minusA, Q); };
  std::uint8_t& difference = block.differenceBytes[block.layout.changed(i, c)];
  difference = static_cast<std::uint8_t>(subtract(difference));
  std::uint32_t& decision = block.decision[block.layout.decision(i, c)];
  const bool wasWrong = decision != 0;
  decision = subtract(decision);
  block.wrong += (decision != 0) - static_cast<std::int32_t>(wasWrong);
}

}  // namespace nbsim
