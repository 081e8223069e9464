// The scalar vote.
//
// Equal votes. The winner needs more votes than the J + 1 - m zero votes plus the threshold, so
// at least two unless all J + 1 votes are non-zero and the threshold is 0: a symbol whose
// non-zero votes all differ cannot be corrected and gets no vote either.
//
// The winner. A correction needs a lead above a threshold >= 0, so the winner is the one value
// with the highest count; which of several tied values the plain decoder names does not matter.
#include "code/scalar_vote.h"

#include <algorithm>

namespace nbsim {

ScalarVote::ScalarVote(std::int32_t maxChecks)
    : values_(static_cast<std::size_t>(maxChecks) + 1, 0), repeatMarks_(256, 0) {}

template <typename T>
bool ScalarVote::findCorrection(std::uint32_t d, const T* syndromes, const std::int32_t* offsets,
                                const std::int32_t* end, std::int32_t threshold, Symbol& a) {
  std::uint32_t* const values = values_.data();
  const auto checks = static_cast<std::int32_t>(end - offsets);
  std::int32_t count = 0;
  if (d != 0) values[count++] = d;
  for (const std::int32_t* offset = offsets; offset != end; ++offset) {
    const std::uint32_t s = syndromes[*offset];
    values[count] = s;
    count += s != 0;
  }
  // The winner needs `needed` votes: more than the zero votes plus the threshold.
  const std::int32_t zeroVotes = checks + 1 - count;
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
    // Only a repeated value can win (see Equal votes above). Values of different low eight bits
    // differ; most votes at a high P0 end here.
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

template bool ScalarVote::findCorrection(std::uint32_t, const std::uint32_t*, const std::int32_t*,
                                         const std::int32_t*, std::int32_t, Symbol&);
template bool ScalarVote::findCorrection(std::uint32_t, const std::uint8_t*, const std::int32_t*,
                                         const std::int32_t*, std::int32_t, Symbol&);

}  // namespace nbsim
