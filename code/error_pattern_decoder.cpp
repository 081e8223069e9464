// The fast decoder over error patterns.
//
// The candidate filter. A vote on symbol (i, c) has J + 1 votes: its difference d (weight 1) and
// the J syndrome symbols of its checks, n of them non-zero. The value 0 gets J - n + [d = 0]
// votes; a value a != 0 at most n + [d = a]. A correction needs a != 0 to lead every other value,
// 0 included, by more than the threshold (>= 0): n + [d = a] - (J - n + [d = 0]) > threshold,
// that is 2n >= J + threshold + 2[d = 0] (the two brackets never both hold). Symbols failing it
// cannot be corrected and are not visited; the weaker 2n >= J + 2[d = 0] (threshold 0) marks the
// candidates kept in the position bitset. Dropping [d = 0] would not be exact: a symbol already
// corrected (d != 0) can be corrected back with only half of its syndromes non-zero.
//
// Skipped passes. A pass that corrects nothing leaves the block as it was, so a following pass
// whose threshold is no lower corrects nothing either. A block whose syndrome is all zero is never
// corrected again: with n = 0 the filter needs J + threshold + 2[d = 0] <= 0, and J = 0 means a
// symbol without checks, whose d stays 0. A skipped pass still adds its error count.
//
// The winner. A correction needs a lead above a threshold >= 0, so the winner is the one value
// with the highest count; which of several tied values the plain decoder names does not matter.
#include "code/error_pattern_decoder.h"

#include <algorithm>
#include <bit>

namespace nbsim {

bool ErrorPatternDecoder::supports(const IterationSchedule& schedule, std::int32_t nk,
                                   std::int32_t nr) {
  for (std::int32_t k = 0; k < schedule.iterations(); ++k) {
    if (schedule.threshold[k] < 0 || schedule.diffWeight[k] != 1 ||
        schedule.checkBranchesUsed[k] != nr || schedule.infoBranchesUsed[k] != nk) {
      return false;
    }
  }
  return true;
}

ErrorPatternDecoder::ErrorPatternDecoder(const NonBinaryCodec& codec)
    : L_(codec.blockLength()),
      Q_(static_cast<std::uint32_t>(codec.alphabetSize())),
      threshold_(codec.schedule().threshold) {
  codec.branchCounts(nk_, nr_);
  const CodeDescription& code = codec.code();
  informationTaps_.resize(nk_);
  checkTaps_.resize(nr_);
  checks_.assign(nk_, 0);
  for (std::int32_t i = 0; i < nk_; ++i) {
    for (std::int32_t v = 0; v < nr_; ++v) {
      for (std::int32_t t : code.polynomials[i][v].taps) {
        informationTaps_[i].push_back({v, t});
        checkTaps_[v].push_back({i, t});
        ++checks_[i];
      }
    }
  }
  const auto L = static_cast<std::size_t>(L_);
  decision_.assign(nk_ * L, 0);
  difference_.assign(nk_ * L, 0);
  syndrome_.assign(nr_ * L, 0);
  nonzeroChecks_.assign(nk_ * L, 0);
  candidate_.assign(nk_ * L, 0);
  candidateBranches_.assign(L, 0);
  candidateWords_.assign((L + 63) / 64, 0);
  voteValues_.reserve(static_cast<std::size_t>(codec.maxChecks()) + 1);
}

void ErrorPatternDecoder::startBlock() {
  if (clean_) return;
  std::fill(decision_.begin(), decision_.end(), 0);
  std::fill(difference_.begin(), difference_.end(), 0);
  std::fill(syndrome_.begin(), syndrome_.end(), 0);
  std::fill(nonzeroChecks_.begin(), nonzeroChecks_.end(), 0);
  std::fill(candidate_.begin(), candidate_.end(), 0);
  std::fill(candidateBranches_.begin(), candidateBranches_.end(), 0);
  std::fill(candidateWords_.begin(), candidateWords_.end(), 0);
  wrong_ = 0;
  nonzeroSyndromes_ = 0;
  clean_ = true;
}

void ErrorPatternDecoder::addInformationError(std::int32_t i, std::int32_t c, Symbol e) {
  clean_ = false;
  decision_[i * L_ + c] = static_cast<std::uint32_t>(e);
  ++wrong_;
  // The symbol enters the check at position j of branch v where j + t = c (mod L).
  for (const Tap& tap : informationTaps_[i]) {
    const std::int32_t j = c >= tap.offset ? c - tap.offset : c - tap.offset + L_;
    addToSyndrome(tap.branch, j, static_cast<std::uint32_t>(e));
  }
}

void ErrorPatternDecoder::addCheckError(std::int32_t v, std::int32_t j, Symbol e) {
  clean_ = false;
  addToSyndrome(v, j, Q_ - static_cast<std::uint32_t>(e));
}

void ErrorPatternDecoder::addToSyndrome(std::int32_t v, std::int32_t j, std::uint32_t x) {
  std::uint32_t& s = syndrome_[v * L_ + j];
  const std::uint32_t before = s;
  // Both terms are below Q <= 2^31 - 1, so the sum fits 32 bits unsigned.
  const std::uint32_t sum = before + x;
  s = sum >= Q_ ? sum - Q_ : sum;
  if ((before == 0) != (s == 0)) countSyndromeChange(v, j, s == 0 ? -1 : 1);
}

void ErrorPatternDecoder::countSyndromeChange(std::int32_t v, std::int32_t j, std::int32_t delta) {
  nonzeroSyndromes_ += delta;
  // Syndrome (v, j) is a check of information symbol (i, j + t mod L) for every tap t of (i, v).
  for (const Tap& tap : checkTaps_[v]) {
    const std::int32_t sum = j + tap.offset;
    const std::int32_t c = sum >= L_ ? sum - L_ : sum;
    nonzeroChecks_[tap.branch * L_ + c] += delta;
    refreshCandidate(tap.branch, c);
  }
}

void ErrorPatternDecoder::refreshCandidate(std::int32_t i, std::int32_t c) {
  const std::int32_t index = i * L_ + c;
  const std::int32_t twiceN = 2 * nonzeroChecks_[index];
  const bool candidate = twiceN >= checks_[i] + (difference_[index] == 0 ? 2 : 0);
  if (candidate == (candidate_[index] != 0)) return;
  candidate_[index] = candidate ? 1 : 0;
  const std::uint64_t bit = std::uint64_t{1} << (c & 63);
  if (candidate) {
    if (candidateBranches_[c]++ == 0) candidateWords_[c >> 6] |= bit;
  } else {
    if (--candidateBranches_[c] == 0) candidateWords_[c >> 6] &= ~bit;
  }
}

std::int32_t ErrorPatternDecoder::highestCandidate(std::int32_t c) const {
  if (c < 0) return -1;
  std::int32_t word = c >> 6;
  // Bits 0..c mod 64 of the word holding c.
  std::uint64_t bits = candidateWords_[word] & (~std::uint64_t{0} >> (63 - (c & 63)));
  while (bits == 0) {
    if (word == 0) return -1;
    bits = candidateWords_[--word];
  }
  return word * 64 + 63 - std::countl_zero(bits);
}

std::int32_t ErrorPatternDecoder::decodeBlock(IterationStats& stats) {
  stats.decodedSymbols += static_cast<std::int64_t>(nk_) * L_;
  stats.errors[0] += wrong_;
  bool previousCorrected = false;
  std::int32_t previousThreshold = 0;
  for (std::size_t k = 0; k < threshold_.size(); ++k) {
    const std::int32_t threshold = threshold_[k];
    const bool mayCorrect =
        nonzeroSyndromes_ > 0 && (k == 0 || previousCorrected || threshold < previousThreshold);
    previousCorrected = mayCorrect && runIteration(threshold);
    previousThreshold = threshold;
    stats.errors[k + 1] += wrong_;
  }
  return wrong_;
}

bool ErrorPatternDecoder::runIteration(std::int32_t threshold) {
  bool corrected = false;
  // Positions descending, branches ascending, as the plain decoder; the bitset is read afresh at
  // every step, so a correction's effect on later positions is seen.
  for (std::int32_t c = highestCandidate(L_ - 1); c >= 0; c = highestCandidate(c - 1)) {
    for (std::int32_t i = 0; i < nk_; ++i) {
      const std::int32_t index = i * L_ + c;
      if (candidate_[index] == 0) continue;
      const std::int32_t needed = checks_[i] + threshold + (difference_[index] == 0 ? 2 : 0);
      if (2 * nonzeroChecks_[index] < needed) continue;
      Symbol a = 0;
      if (findCorrection(i, c, threshold, a)) {
        applyCorrection(i, c, a);
        corrected = true;
      }
    }
  }
  return corrected;
}

bool ErrorPatternDecoder::findCorrection(std::int32_t i, std::int32_t c, std::int32_t threshold,
                                         Symbol& a) {
  const std::int32_t index = i * L_ + c;
  voteValues_.clear();
  const std::uint32_t d = difference_[index];
  if (d != 0) voteValues_.push_back(d);
  for (const Tap& tap : informationTaps_[i]) {
    const std::int32_t j = c >= tap.offset ? c - tap.offset : c - tap.offset + L_;
    const std::uint32_t s = syndrome_[tap.branch * L_ + j];
    if (s != 0) voteValues_.push_back(s);
  }
  const auto count = static_cast<std::int32_t>(voteValues_.size());
  const std::int32_t zeroVotes = checks_[i] + 1 - count;
  // The most and second most frequent non-zero values.
  std::int32_t bestCount = 0;
  std::int32_t secondCount = 0;
  std::uint32_t best = 0;
  for (std::int32_t p = 0; p < count; ++p) {
    const std::uint32_t value = voteValues_[p];
    if (std::find(voteValues_.begin(), voteValues_.begin() + p, value) != voteValues_.begin() + p) {
      continue;  // counted at its first appearance
    }
    const auto votes =
        static_cast<std::int32_t>(std::count(voteValues_.begin() + p, voteValues_.end(), value));
    if (votes > bestCount) {
      secondCount = bestCount;
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

void ErrorPatternDecoder::applyCorrection(std::int32_t i, std::int32_t c, Symbol a) {
  const std::uint32_t minusA = Q_ - static_cast<std::uint32_t>(a);
  // Every check branch keeps its syndrome consistent.
  for (const Tap& tap : informationTaps_[i]) {
    const std::int32_t j = c >= tap.offset ? c - tap.offset : c - tap.offset + L_;
    addToSyndrome(tap.branch, j, minusA);
  }
  const std::int32_t index = i * L_ + c;
  const auto subtract = [this, minusA](std::uint32_t x) {
    const std::uint32_t sum = x + minusA;
    return sum >= Q_ ? sum - Q_ : sum;
  };
  difference_[index] = subtract(difference_[index]);
  const bool wasWrong = decision_[index] != 0;
  decision_[index] = subtract(decision_[index]);
  wrong_ += (decision_[index] != 0) - static_cast<std::int32_t>(wasWrong);
  refreshCandidate(i, c);
}

}  // namespace nbsim
