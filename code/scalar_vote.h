// One symbol's vote, in plain code: the fast decoder takes it where no vector vote serves (long
// checks, large alphabets, the portable build) and after a correction at the same position.
//
// A vote on symbol (i, c) has J + 1 votes: its difference d and the syndrome symbols of its J
// checks. It corrects when one non-zero value leads every other value, and the zero votes, by
// more than the threshold; the winner is that value.
#pragma once

#include <cstdint>
#include <vector>

#include "code/symbol.h"

namespace nbsim {

class ScalarVote {
 public:
  // For votes of up to `maxChecks` checks.
  explicit ScalarVote(std::int32_t maxChecks);

  // The vote of a symbol with difference d and the syndrome symbols syndromes[offset] for every
  // offset in [offsets, end): true when it corrects at `threshold` (>= 0), with the winner in
  // `a`. The syndrome symbols are of 32 bits or, for a block in bytes, of 8.
  template <typename T>
  bool findCorrection(std::uint32_t d, const T* syndromes, const std::int32_t* offsets,
                      const std::int32_t* end, std::int32_t threshold, Symbol& a);

 private:
  std::vector<std::uint32_t> values_;
  std::vector<std::uint8_t> repeatMarks_;  // by the low eight bits of a vote value; kept zero
};

}  // namespace nbsim
