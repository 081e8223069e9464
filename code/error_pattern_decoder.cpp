// The fast decoder over error patterns.
//
// The candidate filter. A vote on symbol (i, c) has J + 1 votes: its difference d (weight 1) and
// the J syndrome symbols of its checks, n of them non-zero. The value 0 gets J - n + [d = 0]
// votes; a value a != 0 at most n + [d = a]. A correction needs a != 0 to lead every other value,
// 0 included, by more than the threshold (>= 0): n + [d = a] - (J - n + [d = 0]) > threshold,
// that is 2n >= J + threshold + 2[d = 0] (the two brackets never both hold), or with the count of
// non-zero votes m = n + [d != 0]: 2m >= J + threshold + 2, m >= (J + threshold + 3) / 2 in
// integers. Symbols below it cannot be corrected and get no vote. Dropping [d = 0] would not be
// exact: a symbol already corrected (d != 0) can be corrected back with only half of its
// syndromes non-zero.
//
// Skipped passes. A pass that corrects nothing leaves the block as it was, so a following pass
// whose threshold is no lower corrects nothing either. If no syndrome symbol went from zero to
// non-zero during a pass, no count rose after the pass visited it, and a count only changes at
// a visit through its own d; so if no visited symbol reached the bound of the lowest threshold
// still to come (after its own correction, if it had one), no later pass corrects anything. A
// block whose syndrome is all zero is never corrected again: with n = 0 the filter needs
// J + threshold + 2[d = 0] <= 0, and J = 0 means a symbol without checks, whose d stays 0. A
// skipped pass still adds its error count.
//
// Equal votes. The winner needs more votes than the J + 1 - m zero votes plus the threshold, so
// at least two unless all J + 1 votes are non-zero and the threshold is 0: a symbol whose
// non-zero votes all differ cannot be corrected and gets no vote either.
//
// The winner. A correction needs a lead above a threshold >= 0, so the winner is the one value
// with the highest count; which of several tied values the plain decoder names does not matter.
//
// The work of a block. Its errors are received as a list and added to the syndrome at once:
// one by one when they are few, else as whole sums over every position (eight at a time,
// reduced modulo Q once). A pass counts m for eight positions at a time; where two or more are
// due, one vector vote takes them all (vote_kernels.h), a lone one is voted by itself; d is left
// out of a group without a difference. The zero-syndrome test scans the flags before a pass that
// follows building or a correcting pass, the only times it can change.
#include "code/error_pattern_decoder.h"

#include <algorithm>
#include <array>
#include <bit>
#include <utility>

// NBSIM_PORTABLE_DECODER selects the plain loops that serve where SSE2 is missing, so that the
// tests can hold them to the reference too.
#if defined(__SSE2__) && !defined(NBSIM_PORTABLE_DECODER)
#include <emmintrin.h>

#include "code/vote_kernels.h"
#endif

namespace nbsim {
namespace {

// Counts are 16-bit: J + 1 and every bound must stay below 32768.
constexpr std::int32_t largestChecks = 16000;
constexpr std::int32_t largestThreshold = 1000;
// Passes are specialised for one information branch of 1 .. 15 checks.
constexpr std::int32_t largestFixedChecks = 16;

#if defined(__SSE2__) && !defined(NBSIM_PORTABLE_DECODER)
// `sum` plus the eight 16-bit lanes at base + offsets[k] for every offset up to `end`; `fixed`
// > 0: exactly that many offsets, a constant so that the loop unrolls. Two sums, so that
// consecutive additions do not wait for each other.
template <std::int32_t fixed>
[[gnu::always_inline]] inline __m128i addLanesAt(__m128i sum, const std::int16_t* base,
                                                 const std::int32_t* offsets,
                                                 const std::int32_t* end) {
  const auto load = [base](std::int32_t offset) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(base + offset));
  };
  __m128i other = _mm_setzero_si128();
  if constexpr (fixed > 0) {
#pragma GCC unroll 16
    for (std::int32_t k = 0; k + 1 < fixed; k += 2) {
      sum = _mm_add_epi16(sum, load(offsets[k]));
      other = _mm_add_epi16(other, load(offsets[k + 1]));
    }
    if (fixed % 2 != 0) sum = _mm_add_epi16(sum, load(offsets[fixed - 1]));
  } else {
    for (; end - offsets >= 2; offsets += 2) {
      sum = _mm_add_epi16(sum, load(offsets[0]));
      other = _mm_add_epi16(other, load(offsets[1]));
    }
    if (offsets != end) sum = _mm_add_epi16(sum, load(*offsets));
  }
  return _mm_add_epi16(sum, other);
}
#endif

}  // namespace

bool ErrorPatternDecoder::supports(const NonBinaryCodec& codec) {
  std::int32_t nk = 0;
  std::int32_t nr = 0;
  nk = codec.code().nk;
  nr = codec.code().nr;
  const IterationSchedule& schedule = codec.schedule();
  for (std::int32_t k = 0; k < schedule.iterations(); ++k) {
    if (schedule.threshold[k] < 0 || schedule.threshold[k] > largestThreshold ||
        schedule.diffWeight[k] != 1 || schedule.checkBranchesUsed[k] != nr ||
        schedule.infoBranchesUsed[k] != nk) {
      return false;
    }
  }
  return codec.maxChecks() <= largestChecks;
}

ErrorPatternDecoder::ErrorPatternDecoder(const NonBinaryCodec& codec)
    : L_(codec.blockLength()),
      Q_(static_cast<std::uint32_t>(codec.alphabetSize())),
      threshold_(codec.schedule().threshold),
      syndromeStride_(flagPad + 2 * codec.blockLength()),
      changedStride_(flagPad + codec.blockLength()) {
  nk_ = codec.code().nk;
  nr_ = codec.code().nr;
  const CodeDescription& code = codec.code();
  checks_.assign(nk_, 0);
  for (std::int32_t i = 0; i < nk_; ++i) {
    tapStart_.push_back(static_cast<std::int32_t>(informationTaps_.size()));
    for (std::int32_t v = 0; v < nr_; ++v) {
      for (std::int32_t t : code.polynomials[i][v].taps) {
        const std::int32_t syndromeBase = v * syndromeStride_ + flagPad;
        informationTaps_.push_back({t, syndromeBase});
        checkOffsets_.push_back(syndromeBase + L_ - t);
      }
    }
    checks_[i] = static_cast<std::int32_t>(informationTaps_.size()) - tapStart_.back();
  }
  tapStart_.push_back(static_cast<std::int32_t>(informationTaps_.size()));
  const auto L = static_cast<std::size_t>(L_);
  decision_.assign(nk_ * L, 0);
  difference_.assign(static_cast<std::size_t>(nk_) * static_cast<std::size_t>(changedStride_), 0);
  syndrome_.assign(static_cast<std::size_t>(nr_) * static_cast<std::size_t>(syndromeStride_), 0);
  nonzero_.assign(static_cast<std::size_t>(nr_) * static_cast<std::size_t>(syndromeStride_), 0);
  changed_.assign(static_cast<std::size_t>(nk_) * static_cast<std::size_t>(changedStride_), 0);
  groupVotes_.assign(static_cast<std::size_t>(nk_) * 8, 0);
  groupValues_.assign(static_cast<std::size_t>(nk_) * 8, 0);
  dueLanes_.assign(nk_, 0);
  correctingLanes_.assign(nk_, 0);
#if defined(__SSE2__) && !defined(NBSIM_PORTABLE_DECODER)
  groupVote_ = codec.alphabetSize() <= 32768 && codec.maxChecks() + 1 <= votes::largestGroupVote;
#endif
  needed_.assign(nk_, 0);
  lowestNeeded_.assign(nk_, 0);
  // The lowest threshold of the passes after each one (its own for the last).
  lowestThreshold_ = threshold_;
  for (std::int32_t k = static_cast<std::int32_t>(threshold_.size()) - 2; k >= 0; --k) {
    lowestThreshold_[k] = std::min(threshold_[k + 1], lowestThreshold_[k + 1]);
  }
  voteValues_.assign(static_cast<std::size_t>(codec.maxChecks()) + 1, 0);
  pass_ = passFor(nk_ == 1 ? checks_[0] : 0, std::make_index_sequence<largestFixedChecks>());
  repeatMarks_.assign(256, 0);
  received_.assign(nk_ * L, ReceivedError{0, 0});
  receivedChecks_.assign(static_cast<std::size_t>(nr_) * L, CheckError{0, 0});
#if defined(__SSE2__) && !defined(NBSIM_PORTABLE_DECODER)
  // A syndrome symbol's whole sum, of its check error and its taps, must fit 16 bits unsigned.
  std::int64_t largestSum = 0;
  for (std::int32_t v = 0; v < nr_; ++v) {
    std::int64_t terms = 1;
    for (std::int32_t i = 0; i < nk_; ++i) {
      terms += static_cast<std::int64_t>(code.polynomials[i][v].taps.size());
    }
    largestSum = std::max(largestSum, terms * (codec.alphabetSize() - 1));
  }
  if (codec.alphabetSize() <= 32768 && largestSum <= 65535 &&
      std::all_of(informationTaps_.begin(), informationTaps_.end(),
                  [this](const InformationTap& tap) { return tap.t < L_; })) {
    sums_ = sumsFor(nk_ == 1 && nr_ == 1 ? checks_[0] : 0,
                    std::make_index_sequence<largestFixedChecks>());
  }
#endif
  if (sums_ != nullptr) {
    mirroredStride_ = 2 * L_ + flagPad;
    mirrored_.assign(static_cast<std::size_t>(nk_) * static_cast<std::size_t>(mirroredStride_), 0);
    for (std::int32_t v = 0; v < nr_; ++v) {
      sumStart_.push_back(static_cast<std::int32_t>(sumOffsets_.size()));
      for (std::int32_t i = 0; i < nk_; ++i) {
        for (std::int32_t t : code.polynomials[i][v].taps) {
          sumOffsets_.push_back(i * mirroredStride_ + t);
        }
      }
    }
    sumStart_.push_back(static_cast<std::int32_t>(sumOffsets_.size()));
  }
}

void ErrorPatternDecoder::startBlock() {
  if (clean_) return;
  std::fill(decision_.begin(), decision_.end(), 0);
  std::fill(difference_.begin(), difference_.end(), 0);
  std::fill(changed_.begin(), changed_.end(), 0);
  wrong_ = 0;
  receivedCount_ = 0;
  receivedCheckCount_ = 0;
  clean_ = true;
}

void ErrorPatternDecoder::receiveInformation() {
  // Sums cost about L / 8 vector steps per tap, an error about one scalar step per tap. The
  // sums write every syndrome symbol; errors one by one need a cleared syndrome first.
  if (sums_ != nullptr && 32 * receivedCount_ >= L_) {
    (this->*sums_)();
  } else {
    if (!syndromeCleared_) {
      std::fill(syndrome_.begin(), syndrome_.end(), 0);
      std::fill(nonzero_.begin(), nonzero_.end(), 0);
    }
    for (std::int32_t k = 0; k < receivedCount_; ++k) {
      const auto [i, c] = received_[k];
      addAlongChecks<false>(i, c, decision_[i * L_ + c]);
    }
  }
  for (std::int32_t k = 0; k < receivedCheckCount_; ++k) {
    addToSyndrome(receivedChecks_[k].at, 0, receivedChecks_[k].minusE);
  }
  syndromeCleared_ = receivedCount_ == 0 && receivedCheckCount_ == 0 && syndromeCleared_;
  receivedCount_ = 0;
  receivedCheckCount_ = 0;
}

template <std::int32_t fixedTaps>
void ErrorPatternDecoder::addInformationSums() {
#if defined(__SSE2__) && !defined(NBSIM_PORTABLE_DECODER)
  // Syndrome symbol (v, j) gains sum over taps t of (i, v) of error (i, j + t): eight positions
  // at a time on 16-bit lanes, reduced modulo Q once at the end.
  const auto load = [](const void* at) { return _mm_loadu_si128(static_cast<const __m128i*>(at)); };
  const auto store = [](void* at, __m128i value) {
    _mm_storeu_si128(static_cast<__m128i*>(at), value);
  };
  const __m128i zero = _mm_setzero_si128();
  // x mod Q for any 16-bit x: q = floor(x floor(2^16 / Q) / 2^16) falls short of floor(x / Q) by
  // less than x / 2^16 < 1, so x - q Q is below 2Q and one conditional subtraction ends it.
  const __m128i Q = _mm_set1_epi16(static_cast<std::int16_t>(Q_));
  const __m128i belowQ = _mm_set1_epi16(static_cast<std::int16_t>(Q_ - 1));
  const __m128i inverse = _mm_set1_epi16(static_cast<std::int16_t>(65536 / Q_));
  const auto reduce = [&](__m128i x) {
    const __m128i r = _mm_sub_epi16(x, _mm_mullo_epi16(_mm_mulhi_epu16(x, inverse), Q));
    const __m128i below = _mm_cmpeq_epi16(_mm_subs_epu16(r, belowQ), zero);
    return _mm_sub_epi16(r, _mm_andnot_si128(below, Q));
  };
  const auto L = static_cast<std::int32_t>(L_);
  for (std::int32_t i = 0; i < nk_; ++i) {
    const std::uint32_t* const errors = &decision_[i * L];
    std::int16_t* const mirrored = &mirrored_[i * mirroredStride_];
    std::int32_t c = 0;
    for (; c + 8 <= L; c += 8) {
      const __m128i values = _mm_packs_epi32(load(errors + c), load(errors + c + 4));
      store(mirrored + c, values);
      store(mirrored + c + L, values);
    }
    for (; c < L; ++c) {
      mirrored[c] = static_cast<std::int16_t>(errors[c]);
      mirrored[c + L] = static_cast<std::int16_t>(errors[c]);
    }
  }
  for (std::int32_t v = 0; v < nr_; ++v) {
    std::uint32_t* const syndrome = &syndrome_[v * syndromeStride_ + flagPad];
    std::int16_t* const flags = &nonzero_[v * syndromeStride_ + flagPad];
    const std::int32_t* const begin = sumOffsets_.data() + sumStart_[v];
    const std::int32_t* const end = sumOffsets_.data() + sumStart_[v + 1];
    for (std::int32_t j = 0; j < L; j += 8) {
      // Lanes at L and above compute nothing that is kept.
      const __m128i sum = reduce(addLanesAt<fixedTaps>(zero, mirrored_.data() + j, begin, end));
      const __m128i nonzero = _mm_andnot_si128(_mm_cmpeq_epi16(sum, zero), _mm_set1_epi16(1));
      if (j + 8 <= L) {
        const __m128i low = _mm_unpacklo_epi16(sum, zero);
        const __m128i high = _mm_unpackhi_epi16(sum, zero);
        store(syndrome + j, low);
        store(syndrome + j + 4, high);
        store(syndrome + j + L, low);
        store(syndrome + j + L + 4, high);
        store(flags + j, nonzero);
        store(flags + j + L, nonzero);
      } else {
        alignas(16) std::int16_t lanes[8];
        store(lanes, sum);
        for (std::int32_t k = 0; j + k < L; ++k) {
          const auto value = static_cast<std::uint32_t>(lanes[k]);
          syndrome[j + k] = value;
          syndrome[j + k + L] = value;
          flags[j + k] = value != 0;
          flags[j + k + L] = value != 0;
        }
      }
    }
  }
#endif
}

template <bool duringPass, std::int32_t fixedChecks>
void ErrorPatternDecoder::addAlongChecks(std::int32_t i, std::int32_t c, std::uint32_t x) {
  // The same steps as addToSyndrome for each check, with the sizes kept in locals.
  const std::uint32_t Q = Q_;
  const std::int32_t L = L_;
  const std::ptrdiff_t mirror = L_;
  std::uint32_t* const syndromes = syndrome_.data();
  std::int16_t* const flags = nonzero_.data();
  std::uint32_t raised = 0;
  const InformationTap* const taps = informationTaps_.data() + tapStart_[i];
  const std::int32_t checks = fixedChecks > 0 ? fixedChecks : tapStart_[i + 1] - tapStart_[i];
#pragma GCC unroll 16
  for (std::int32_t k = 0; k < checks; ++k) {
    // Information symbol (i, c) enters the check at position j of branch v where j + t = c.
    const std::int32_t difference = c - taps[k].t;
    const std::ptrdiff_t at = taps[k].base + difference + ((difference >> 31) & L);
    std::uint32_t* const syndrome = syndromes + at;
    std::int16_t* const flag = flags + at;
    const std::uint32_t before = syndrome[0];
    const std::uint32_t sum = before + x;
    const std::uint32_t after = sum >= Q ? sum - Q : sum;
    syndrome[0] = after;
    syndrome[mirror] = after;
    // Without a branch: whether a flag changes is as good as a coin toss at a high P0.
    const std::uint32_t nonzero = after != 0;
    flag[0] = static_cast<std::int16_t>(nonzero);
    flag[mirror] = static_cast<std::int16_t>(nonzero);
    if constexpr (duringPass) raised |= nonzero & static_cast<std::uint32_t>(before == 0);
  }
  if constexpr (duringPass) syndromeRaised_ |= raised != 0;
}

bool ErrorPatternDecoder::syndromeIsZero() const {
  for (std::int32_t v = 0; v < nr_; ++v) {
    const std::int16_t* const flags = &nonzero_[v * syndromeStride_ + flagPad];
    std::int32_t j = 0;
#if defined(__SSE2__) && !defined(NBSIM_PORTABLE_DECODER)
    __m128i any = _mm_setzero_si128();
    for (; j + 8 <= L_; j += 8) {
      any = _mm_or_si128(any, _mm_loadu_si128(reinterpret_cast<const __m128i*>(flags + j)));
    }
    if (_mm_movemask_epi8(_mm_cmpeq_epi16(any, _mm_setzero_si128())) != 0xFFFF) return false;
#endif
    for (; j < L_; ++j) {
      if (flags[j] != 0) return false;
    }
  }
  return true;
}

std::int32_t ErrorPatternDecoder::decodeBlock(IterationStats& stats) {
  receiveInformation();
  stats.decodedSymbols += static_cast<std::int64_t>(nk_) * L_;
  stats.errors[0] += wrong_;
  const auto passes = static_cast<std::int32_t>(threshold_.size());
  std::int64_t* const errors = stats.errors.data();
  bool ran = false;
  bool lastCorrected = false;
  std::int32_t lastThreshold = 0;
  bool restIdle = false;  // no remaining pass can correct anything
  for (std::int32_t k = 0; k < passes; ++k) {
    if (restIdle) {
      // The rest of the passes leave the block as it is.
      for (; k < passes; ++k) errors[k + 1] += wrong_;
      break;
    }
    const std::int32_t threshold = threshold_[k];
    bool run = true;
    // The block is as the last pass left it; if that pass corrected nothing, neither does one
    // at a threshold no lower.
    if (run && ran && !lastCorrected && threshold >= lastThreshold) run = false;
    // A zero syndrome ends all corrections; it changes only where a pass corrects.
    if (run && (!ran || lastCorrected) && syndromeIsZero()) {
      restIdle = true;
      run = false;
    }
    if (run) {
      bool reached = false;
      syndromeRaised_ = false;
      lastCorrected = (this->*pass_)(threshold, lowestThreshold_[k], reached);
      lastThreshold = threshold;
      ran = true;
      restIdle = !syndromeRaised_ && !reached;
    }
    errors[k + 1] += wrong_;
  }
  return wrong_;
}

// Inline: it runs for every group of every pass, and its set-up would cost as much as its work.
template <std::int32_t fixedChecks>
[[gnu::always_inline]] inline std::uint32_t ErrorPatternDecoder::countGroup(
    const BranchCounts& branch, std::int32_t first, std::uint32_t& reached) {
  // Every flag read below stands at a non-negative index: offset + first >= flagPad - 6.
  const std::int16_t* const flags = branch.flags + first;
  const std::int16_t* const changed = branch.changed + first;
  const std::int32_t* offset = branch.offsets;
  const std::int32_t* const end = branch.offsetsEnd;
  std::int16_t* const votes = branch.votes;
#if defined(__SSE2__) && !defined(NBSIM_PORTABLE_DECODER)
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

std::uint32_t ErrorPatternDecoder::voteGroup(std::int32_t i, std::int32_t first,
                                             std::int32_t threshold, std::uint32_t due) {
  std::uint32_t* const values = &groupValues_[i * 8];
#if defined(__SSE2__) && !defined(NBSIM_PORTABLE_DECODER)
  // A lone vote costs less by itself: at a low P0 it is mostly a lone error being corrected.
  if (groupVote_ && (due & (due - 1)) != 0) {
    // Every value read stands at a non-negative index, as in countGroup.
    // Where no position of the group has a difference, d takes no part in the comparisons.
    const std::int32_t at = i * changedStride_ + flagPad + first;
    const bool withD = _mm_movemask_epi8(_mm_cmpeq_epi16(
                           _mm_loadu_si128(reinterpret_cast<const __m128i*>(&changed_[at])),
                           _mm_setzero_si128())) != 0xFFFF;
    const votes::GroupVoteKernel kernel = withD || checks_[i] == 0
                                              ? votes::groupVoteKernels[checks_[i]]
                                              : votes::groupVoteKernelsWithoutD[checks_[i] - 1];
    return due & kernel(&difference_[at], syndrome_.data() + first,
                        checkOffsets_.data() + tapStart_[i], &groupVotes_[i * 8], threshold, due,
                        values);
  }
#endif
#if defined(__SSE2__) && !defined(NBSIM_PORTABLE_DECODER)
  if (groupVote_ && checks_[i] >= 1 && checks_[i] <= votes::largestLoneVote) {
    const std::int32_t lane = std::countr_zero(due);
    const std::int32_t c = first + lane;
    return votes::loneVotes[checks_[i] - 1](difference_[i * changedStride_ + flagPad + c],
                                            syndrome_.data() + c,
                                            checkOffsets_.data() + tapStart_[i],
                                            groupVotes_[i * 8 + lane], threshold, values[lane])
               ? due
               : 0;
  }
#endif
  std::uint32_t correcting = 0;
  for (std::uint32_t rest = due; rest != 0; rest &= rest - 1) {
    const std::int32_t lane = std::countr_zero(rest);
    Symbol a = 0;
    if (findCorrection(i, first + lane, threshold, a)) {
      correcting |= 1u << lane;
      values[lane] = static_cast<std::uint32_t>(a);
    }
  }
  return correcting;
}

template <std::int32_t fixedChecks>
std::int32_t ErrorPatternDecoder::nonzeroVotes(std::int32_t i, std::int32_t c) const {
  std::int32_t votes = changed_[i * changedStride_ + flagPad + c];
  const std::int32_t* const offsets = checkOffsets_.data() + tapStart_[i];
  const std::int32_t checks = fixedChecks > 0 ? fixedChecks : tapStart_[i + 1] - tapStart_[i];
#pragma GCC unroll 16
  for (std::int32_t k = 0; k < checks; ++k) votes += nonzero_[offsets[k] + c];
  return votes;
}

ErrorPatternDecoder::BranchCounts ErrorPatternDecoder::branchCounts(std::int32_t i) {
  return {nonzero_.data(),
          &changed_[i * changedStride_ + flagPad],
          checkOffsets_.data() + tapStart_[i],
          checkOffsets_.data() + tapStart_[i + 1],
          &groupVotes_[i * 8],
          needed_[i],
          lowestNeeded_[i]};
}

template <std::size_t... fixedTaps>
ErrorPatternDecoder::Sums ErrorPatternDecoder::sumsFor(std::int32_t taps,
                                                       std::index_sequence<fixedTaps...>) {
  constexpr Sums sums[] = {
      &ErrorPatternDecoder::addInformationSums<static_cast<std::int32_t>(fixedTaps)>...};
  return taps > 0 && taps < static_cast<std::int32_t>(sizeof...(fixedTaps)) ? sums[taps] : sums[0];
}

template <std::size_t... fixedChecks>
ErrorPatternDecoder::Pass ErrorPatternDecoder::passFor(std::int32_t checks,
                                                       std::index_sequence<fixedChecks...>) {
  constexpr Pass passes[] = {
      &ErrorPatternDecoder::runIteration<static_cast<std::int32_t>(fixedChecks)>...};
  return checks > 0 && checks < static_cast<std::int32_t>(sizeof...(fixedChecks)) ? passes[checks]
                                                                                  : passes[0];
}

template <std::int32_t fixedChecks>
bool ErrorPatternDecoder::runIteration(std::int32_t threshold, std::int32_t lowestThreshold,
                                       bool& lowestReached) {
  bool corrected = false;
  // A local flag, not the caller's: a store through a bool may alias any member and would
  // make every group reload them.
  bool reachedLowest = false;
  const std::int32_t nk = fixedChecks > 0 ? 1 : nk_;
  for (std::int32_t i = 0; i < nk; ++i) {
    needed_[i] = (checks_[i] + threshold + 3) / 2;
    lowestNeeded_[i] = (checks_[i] + std::min(threshold, lowestThreshold) + 3) / 2;
  }
  // With one branch its view stays in registers across the pass.
  const BranchCounts single = fixedChecks > 0 ? branchCounts(0) : BranchCounts{};
  // Positions descending, branches ascending, as the plain decoder, eight positions a step. A
  // symbol that reaches the lowest bound of this and the later passes without a correction
  // tells that they may correct (told at times for lanes below a correction too: that only
  // costs a pass).
  std::int32_t top = L_ - 1;
  while (top >= 0) {
    const std::int32_t first = top - 7;
    // Positions below 0 read the padding or the upper half; they are not positions.
    const std::uint32_t positions = top < 7 ? (0xFFu << (7 - top)) & 0xFFu : 0xFFu;
    std::uint32_t due = 0;
    for (std::int32_t i = 0; i < nk; ++i) {
      std::uint32_t reached = 0;
      dueLanes_[i] =
          countGroup<fixedChecks>(fixedChecks > 0 ? single : branchCounts(i), first, reached) &
          positions;
      due |= dueLanes_[i];
      if ((reached & positions & ~dueLanes_[i]) != 0) reachedLowest = true;
    }
    std::uint32_t correcting = 0;
    for (std::int32_t i = 0; i < nk && due != 0; ++i) {
      if (dueLanes_[i] == 0) {
        correctingLanes_[i] = 0;
        continue;
      }
      correctingLanes_[i] = voteGroup(i, first, threshold, dueLanes_[i]);
      correcting |= correctingLanes_[i];
      if ((dueLanes_[i] & ~correctingLanes_[i]) != 0) reachedLowest = true;
    }
    if (correcting == 0) {
      top -= 8;
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
        applyCorrection<fixedChecks>(i, c, Q_ - groupValues_[i * 8 + lane]);
        changed = true;
      } else {
        // After a correction at this position: count afresh and vote wherever the count
        // allows.
        const std::int32_t votes = nonzeroVotes(i, c);
        if (votes < lowestNeeded_[i]) continue;
        Symbol a = 0;
        if (votes < needed_[i] || !findCorrection(i, c, threshold, a)) {
          reachedLowest = true;
          continue;
        }
        applyCorrection(i, c, Q_ - static_cast<std::uint32_t>(a));
      }
      corrected = true;
      // The symbol is not visited again in this pass: what it keeps decides for the rest.
      if (nonzeroVotes<fixedChecks>(i, c) >= lowestNeeded_[i]) reachedLowest = true;
    }
    top = c - 1;
  }
  lowestReached = reachedLowest;
  return corrected;
}

bool ErrorPatternDecoder::findCorrection(std::int32_t i, std::int32_t c, std::int32_t threshold,
                                         Symbol& a) {
  std::uint32_t* const values = voteValues_.data();
  std::int32_t count = 0;
  const std::uint32_t d = difference_[i * changedStride_ + flagPad + c];
  if (d != 0) values[count++] = d;
  const std::uint32_t* const syndromes = syndrome_.data() + c;
  const std::int32_t* const end = checkOffsets_.data() + tapStart_[i + 1];
  for (const std::int32_t* offset = checkOffsets_.data() + tapStart_[i]; offset != end; ++offset) {
    const std::uint32_t s = syndromes[*offset];
    values[count] = s;
    count += s != 0;
  }
  // The winner needs `needed` votes: more than the zero votes plus the threshold.
  const std::int32_t zeroVotes = checks_[i] + 1 - count;
  const std::int32_t needed = zeroVotes + threshold + 1;
  if (count == 0) return false;
  // The common cases at once. Only a value holding more than half of the non-zero votes can be
  // found in one pass (Boyer-Moore); when there is one, the best other value has at most the
  // remaining votes, which often settles the vote either way.
  std::uint32_t candidate = values[0];
  std::int32_t lead = 0;
  for (std::int32_t p = 0; p < count; ++p) {
    if (lead == 0) candidate = values[p];
    lead += values[p] == candidate ? 1 : -1;
  }
  std::int32_t candidateVotes = 0;
  for (std::int32_t p = 0; p < count; ++p) candidateVotes += values[p] == candidate;
  const std::int32_t others = count - candidateVotes;
  if (2 * candidateVotes > count) {
    if (candidateVotes - std::max(others, zeroVotes) > threshold) {
      a = static_cast<Symbol>(candidate);
      return true;
    }
    // Exact unless two or more votes are spread over other values.
    if (candidateVotes - zeroVotes <= threshold || others <= 1) return false;
  } else if (needed > count / 2) {
    return false;  // no value reaches half of the non-zero votes
  }
  if (needed > 1) {
    // Only a repeated value can win. Values of different low eight bits differ; most votes at a
    // high P0 end here.
    std::uint8_t* const marks = repeatMarks_.data();
    std::uint8_t repeated = 0;
    for (std::int32_t p = 0; p < count; ++p) {
      std::uint8_t& mark = marks[values[p] & 255];
      repeated |= mark;
      mark = 1;
    }
    for (std::int32_t p = 0; p < count; ++p) marks[values[p] & 255] = 0;
    if (repeated == 0) return false;
  }
  std::int32_t bestCount = 0;
  std::int32_t secondCount = 0;
  std::uint32_t best = 0;
  // The general count: every distinct value once, at its first appearance.
  for (std::int32_t p = 0; p < count; ++p) {
    // A value first seen here has at most count - p votes.
    if (bestCount < needed && count - p < needed) return false;
    const std::uint32_t value = values[p];
    if (value == 0) continue;  // counted at its first appearance
    std::int32_t votes = 1;
    for (std::int32_t q = p + 1; q < count; ++q) {
      if (values[q] == value) {
        ++votes;
        values[q] = 0;
      }
    }
    if (votes > bestCount) {
      secondCount = std::max(secondCount, bestCount);
      bestCount = votes;
      best = value;
    } else if (votes > secondCount) {
      secondCount = votes;
    }
  }
  if (bestCount - std::max(secondCount, zeroVotes) <= threshold) return false;
  a = static_cast<Symbol>(best);
  return true;
}

template <std::int32_t fixedChecks>
void ErrorPatternDecoder::applyCorrection(std::int32_t i, std::int32_t c, std::uint32_t minusA) {
  // Every check branch keeps its syndrome consistent.
  addAlongChecks<true, fixedChecks>(i, c, minusA);
  const std::int32_t index = i * L_ + c;
  const std::int32_t flagIndex = i * changedStride_ + flagPad + c;
  const auto subtract = [this, minusA](std::uint32_t x) {
    const std::uint32_t sum = x + minusA;
    return sum >= Q_ ? sum - Q_ : sum;
  };
  difference_[flagIndex] = subtract(difference_[flagIndex]);
  changed_[flagIndex] = difference_[flagIndex] != 0 ? 1 : 0;
  const bool wasWrong = decision_[index] != 0;
  decision_[index] = subtract(decision_[index]);
  wrong_ += (decision_[index] != 0) - static_cast<std::int32_t>(wasWrong);
}

}  // namespace nbsim
