// The fast decoder over error patterns.
//
// The candidate filter. A vote on symbol (i, c) has J + 1 votes: its difference d (weight 1) and
// the J syndrome symbols of its checks, n of them non-zero. The value 0 gets J - n + [d = 0]
// votes; a value a != 0 at most n + [d = a]. A correction needs a != 0 to lead every other value,
// 0 included, by more than the threshold (>= 0): n + [d = a] - (J - n + [d = 0]) > threshold,
// that is 2n >= J + threshold + 2[d = 0] (the two brackets never both hold), or with the score
// 2n + 2[d != 0] kept per symbol: score >= J + threshold + 2. Symbols below it cannot be
// corrected and get no vote. Dropping [d = 0] would not be exact: a symbol already corrected
// (d != 0) can be corrected back with only half of its syndromes non-zero.
//
// Skipped passes. A pass that corrects nothing leaves the block as it was, so a following pass
// whose threshold is no lower corrects nothing either, nor does one whose bound no symbol
// reached during that pass. A block whose syndrome is all zero is never
// corrected again: with n = 0 the filter needs J + threshold + 2[d = 0] <= 0, and J = 0 means a
// symbol without checks, whose d stays 0. A skipped pass still adds its error count.
//
// The winner. A correction needs a lead above a threshold >= 0, so the winner is the one value
// with the highest count; which of several tied values the plain decoder names does not matter.
#include "code/error_pattern_decoder.h"

#include <algorithm>
#include <bit>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace nbsim {
namespace {

// Scores are 16-bit: 2J + 2 and every bound J + threshold + 2 must stay below 32768.
constexpr std::int32_t largestChecks = 16000;
constexpr std::int32_t largestThreshold = 1000;

}  // namespace

bool ErrorPatternDecoder::supports(const NonBinaryCodec& codec) {
  std::int32_t nk = 0;
  std::int32_t nr = 0;
  codec.branchCounts(nk, nr);
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
      scoreStride_(2 * codec.blockLength() + scorePad) {
  codec.branchCounts(nk_, nr_);
  const CodeDescription& code = codec.code();
  checks_.assign(nk_, 0);
  for (std::int32_t i = 0; i < nk_; ++i) {
    tapStart_.push_back(static_cast<std::int32_t>(informationTaps_.size()));
    for (std::int32_t v = 0; v < nr_; ++v) {
      for (std::int32_t t : code.polynomials[i][v].taps) {
        informationTaps_.push_back({v, t, v * 2 * L_ + L_ - t});
      }
    }
    checks_[i] = static_cast<std::int32_t>(informationTaps_.size()) - tapStart_.back();
  }
  tapStart_.push_back(static_cast<std::int32_t>(informationTaps_.size()));
  for (std::int32_t v = 0; v < nr_; ++v) {
    checkStart_.push_back(static_cast<std::int32_t>(checkTaps_.size()));
    for (std::int32_t i = 0; i < nk_; ++i) {
      for (std::int32_t t : code.polynomials[i][v].taps) {
        checkTaps_.push_back({i * scoreStride_ + scorePad + t});
      }
    }
  }
  checkStart_.push_back(static_cast<std::int32_t>(checkTaps_.size()));
  const auto L = static_cast<std::size_t>(L_);
  decision_.assign(nk_ * L, 0);
  difference_.assign(nk_ * L, 0);
  syndrome_.assign(nr_ * 2 * L, 0);
  score_.assign(static_cast<std::size_t>(nk_) * static_cast<std::size_t>(scoreStride_), 0);
  voteValues_.assign(static_cast<std::size_t>(codec.maxChecks()) + 1, 0);
}

void ErrorPatternDecoder::startBlock() {
  if (clean_) return;
  std::fill(decision_.begin(), decision_.end(), 0);
  std::fill(difference_.begin(), difference_.end(), 0);
  std::fill(syndrome_.begin(), syndrome_.end(), 0);
  std::fill(score_.begin(), score_.end(), 0);
  wrong_ = 0;
  nonzeroSyndromes_ = 0;
  clean_ = true;
}

void ErrorPatternDecoder::addInformationError(std::int32_t i, std::int32_t c, Symbol e) {
  clean_ = false;
  decision_[i * L_ + c] = static_cast<std::uint32_t>(e);
  ++wrong_;
  // The symbol enters the check at position j of branch v where j + t = c (mod L).
  const InformationTap* const end = informationTaps_.data() + tapStart_[i + 1];
  for (const InformationTap* tap = informationTaps_.data() + tapStart_[i]; tap != end; ++tap) {
    addToSyndrome(tap->v, minusModL(c, tap->t), static_cast<std::uint32_t>(e));
  }
}

void ErrorPatternDecoder::addCheckError(std::int32_t v, std::int32_t j, Symbol e) {
  clean_ = false;
  addToSyndrome(v, j, Q_ - static_cast<std::uint32_t>(e));
}

void ErrorPatternDecoder::addToSyndrome(std::int32_t v, std::int32_t j, std::uint32_t x) {
  std::uint32_t* const syndrome = &syndrome_[v * 2 * L_];
  const std::uint32_t before = syndrome[j];
  // Both terms are below Q <= 2^31 - 1, so the sum fits 32 bits unsigned.
  const std::uint32_t sum = before + x;
  const std::uint32_t after = sum >= Q_ ? sum - Q_ : sum;
  syndrome[j] = after;
  syndrome[j + L_] = after;
  if ((before == 0) == (after == 0)) return;
  const std::int16_t delta = after == 0 ? -2 : 2;
  nonzeroSyndromes_ += delta / 2;
  // Syndrome (v, j) is a check of information symbol (i, j + t mod L) for every tap t of (i, v).
  const CheckTap* const end = checkTaps_.data() + checkStart_[v + 1];
  for (const CheckTap* tap = checkTaps_.data() + checkStart_[v]; tap != end; ++tap) {
    score_[tap->scoreOffset + j] += delta;
  }
}

std::int32_t ErrorPatternDecoder::decodeBlock(IterationStats& stats) {
  stats.decodedSymbols += static_cast<std::int64_t>(nk_) * L_;
  stats.errors[0] += wrong_;
  const auto passes = static_cast<std::int32_t>(threshold_.size());
  bool previousRan = false;
  bool previousCorrected = false;
  bool thisBoundReached = true;  // from the previous pass: some symbol reaches this pass's bound
  std::int32_t previousThreshold = 0;
  for (std::int32_t k = 0; k < passes; ++k) {
    const std::int32_t threshold = threshold_[k];
    bool run = false;
    if (nonzeroSyndromes_ == 0) {
      run = false;
    } else if (k == 0 || previousCorrected) {
      run = true;
    } else if (threshold >= previousThreshold) {
      run = false;  // the block is as it was when a pass at no higher threshold corrected nothing
    } else {
      run = !previousRan || thisBoundReached;
    }
    previousCorrected = false;
    if (run) {
      const std::int32_t nextThreshold = k + 1 < passes ? threshold_[k + 1] : threshold;
      previousCorrected = runIteration(threshold, nextThreshold, thisBoundReached);
    }
    previousRan = run;
    previousThreshold = threshold;
    stats.errors[k + 1] += wrong_;
  }
  return wrong_;
}

std::uint32_t ErrorPatternDecoder::reachingPositions(std::int32_t top,
                                                     std::int32_t threshold) const {
  std::uint32_t reaching = 0;
  for (std::int32_t i = 0; i < nk_; ++i) {
    const std::int16_t* const unwrapped = &score_[i * scoreStride_ + scorePad + top - 7];
    const std::int32_t bound = checks_[i] + threshold + 2;
#if defined(__SSE2__)
    const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(unwrapped));
    const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(unwrapped + L_));
    const __m128i reached = _mm_cmpgt_epi16(_mm_add_epi16(low, high),
                                            _mm_set1_epi16(static_cast<std::int16_t>(bound - 1)));
    reaching |= static_cast<std::uint32_t>(
        _mm_movemask_epi8(_mm_packs_epi16(reached, _mm_setzero_si128())));
#else
    for (std::int32_t k = 0; k < 8; ++k) {
      if (unwrapped[k] + unwrapped[k + L_] >= bound) reaching |= 1u << k;
    }
#endif
  }
  // Positions below 0 read the padding or the upper half; they are not positions.
  if (top < 7) reaching &= ~((1u << (7 - top)) - 1);
  return reaching;
}

bool ErrorPatternDecoder::runIteration(std::int32_t threshold, std::int32_t nextThreshold,
                                       bool& nextBoundReached) {
  bool corrected = false;
  nextBoundReached = false;
  // The scan stops at every symbol reaching either bound; when the pass corrects nothing, the
  // block stays as it is, so those stops also tell whether the next pass can correct anything.
  const std::int32_t scanThreshold = std::min(threshold, nextThreshold);
  // Positions descending, branches ascending, as the plain decoder. Scores are read afresh after
  // every visited position, so each correction is seen by the votes after it.
  std::int32_t top = L_ - 1;
  while (top >= 0) {
    std::uint32_t reaching = reachingPositions(top, scanThreshold);
    // Visits the group's positions from the highest; only a correction changes scores, so the
    // group is read again only after one.
    bool changed = false;
    while (reaching != 0 && !changed) {
      const std::int32_t highest = 31 - std::countl_zero(reaching);
      reaching &= ~(1u << highest);
      const std::int32_t c = top - 7 + highest;
      for (std::int32_t i = 0; i < nk_; ++i) {
        const std::int32_t symbolScore = score(i, c);
        if (symbolScore >= checks_[i] + nextThreshold + 2) nextBoundReached = true;
        if (symbolScore < checks_[i] + threshold + 2) continue;
        Symbol a = 0;
        if (findCorrection(i, c, threshold, a)) {
          applyCorrection(i, c, Q_ - static_cast<std::uint32_t>(a));
          corrected = true;
          changed = true;
        }
      }
      if (changed) top = c - 1;
    }
    if (!changed) top -= 8;
  }
  return corrected;
}

bool ErrorPatternDecoder::findCorrection(std::int32_t i, std::int32_t c, std::int32_t threshold,
                                         Symbol& a) {
  std::uint32_t* const values = voteValues_.data();
  std::int32_t count = 0;
  const std::uint32_t d = difference_[i * L_ + c];
  if (d != 0) values[count++] = d;
  // Values sharing their low six bits: a value repeated sets `clash`.
  std::uint64_t seen = d != 0 ? std::uint64_t{1} << (d & 63) : 0;
  std::uint64_t clash = 0;
  const InformationTap* const end = informationTaps_.data() + tapStart_[i + 1];
  for (const InformationTap* tap = informationTaps_.data() + tapStart_[i]; tap != end; ++tap) {
    const std::uint32_t s = syndrome_[tap->syndromeOffset + c];
    values[count] = s;
    count += s != 0;
    const std::uint64_t bit = static_cast<std::uint64_t>(s != 0) << (s & 63);
    clash |= seen & bit;
    seen |= bit;
  }
  // The winner needs `needed` votes: more than the zero votes plus the threshold.
  const std::int32_t zeroVotes = checks_[i] + 1 - count;
  const std::int32_t needed = zeroVotes + threshold + 1;
  std::int32_t bestCount = 0;
  std::int32_t secondCount = 0;
  std::uint32_t best = 0;
  std::int32_t candidates = count;
  if (needed > 1) {
    // Only a repeated value can win, and a value repeats only within a clashing bucket: keep
    // those; each of the others has one vote.
    if (clash == 0) return false;
    candidates = 0;
    for (std::int32_t p = 0; p < count; ++p) {
      const std::uint32_t value = values[p];
      values[candidates] = value;
      candidates += static_cast<std::int32_t>((clash >> (value & 63)) & 1);
    }
    if (candidates < count) secondCount = 1;
  }
  for (std::int32_t p = 0; p < candidates; ++p) {
    // A value first seen here has at most candidates - p votes.
    if (bestCount < needed && candidates - p < needed) return false;
    const std::uint32_t value = values[p];
    if (value == 0) continue;  // counted at its first appearance
    std::int32_t votes = 1;
    for (std::int32_t q = p + 1; q < candidates; ++q) {
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

void ErrorPatternDecoder::applyCorrection(std::int32_t i, std::int32_t c, std::uint32_t minusA) {
  // Every check branch keeps its syndrome consistent.
  const InformationTap* const end = informationTaps_.data() + tapStart_[i + 1];
  for (const InformationTap* tap = informationTaps_.data() + tapStart_[i]; tap != end; ++tap) {
    addToSyndrome(tap->v, minusModL(c, tap->t), minusA);
  }
  const std::int32_t index = i * L_ + c;
  const auto subtract = [this, minusA](std::uint32_t x) {
    const std::uint32_t sum = x + minusA;
    return sum >= Q_ ? sum - Q_ : sum;
  };
  const bool hadDifference = difference_[index] != 0;
  difference_[index] = subtract(difference_[index]);
  const auto differenceChange =
      static_cast<std::int16_t>(2 * ((difference_[index] != 0) - static_cast<int>(hadDifference)));
  score_[i * scoreStride_ + scorePad + c] += differenceChange;
  const bool wasWrong = decision_[index] != 0;
  decision_[index] = subtract(decision_[index]);
  wrong_ += (decision_[index] != 0) - static_cast<std::int32_t>(wasWrong);
}

}  // namespace nbsim
