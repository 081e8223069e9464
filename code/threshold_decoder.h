// The iterative threshold decoder, written as the plain rendering of its rules: the reference
// that every faster decoding path is proven against. It works on the syndrome: for every
// information symbol in turn, the syndrome symbols of its checks and the symbol's own
// accumulated change vote for an error value, and the winner is subtracted when its lead over
// the runner-up exceeds the iteration's threshold.
#pragma once

#include <cstdint>
#include <vector>

#include "code/decode_stop.h"
#include "code/iteration_stats.h"
#include "code/nonbinary_codec.h"

namespace nbsim {

class ThresholdDecoder {
 public:
  // A decoder of `codec`'s code and schedule, with cleared statistics; `codec` must outlive it.
  explicit ThresholdDecoder(const NonBinaryCodec& codec);

  // Decodes one received block into `decoded` with all itert passes, and adds to the statistics
  // counted against `transmitted` (which takes no part in any decision). Every table holds its
  // branches of L symbols. False when `stop` was raised first: the block is then given up part
  // way (looked at every 64 positions of a pass), with `decoded` untouched and only part of the
  // block in the statistics.
  bool decode(const BranchTable& transmitted, const BranchTable& received,
              const BranchTable& receivedChecks, BranchTable& decoded, const DecodeStop& stop = {});

  // The statistics since construction or resetStats. errors[k + 1] counts the information
  // symbols of the branches visited in iteration k that are still wrong after it.
  const IterationStats& stats() const { return stats_; }
  // Clears every entry 0..itert of the statistics and the count of decoded symbols.
  void resetStats() { stats_.reset(codec_.itert()); }

 private:
  void loadBlock(const BranchTable& received, const BranchTable& receivedChecks,
                 const BranchTable& transmitted);
  // False when `stop` was raised first.
  bool runIteration(std::int32_t k, const DecodeStop& stop);
  // Votes on the error value of information symbol (i, c) in iteration k. Candidates are the
  // symbol's difference (weight diffWeight[k]) and the syndrome symbols of its checks, in order
  // of first appearance; the earliest of the highest counts wins. Returns the winner's lead over
  // the best other value, and the winner through `value`.
  std::int32_t vote(std::int32_t i, std::int32_t c, std::int32_t k, Symbol& value);
  // Subtracts `a` (1..Q-1) from decision (i, c), its difference and every syndrome symbol of its
  // checks in all check branches.
  void applyCorrection(std::int32_t i, std::int32_t c, Symbol a);

  const NonBinaryCodec& codec_;
  IterationStats stats_;
  BranchTable decision_;
  BranchTable syndrome_;
  BranchTable difference_;
  BranchTable reference_;
  std::vector<Symbol> voteValues_;
  std::vector<std::int32_t> voteCounts_;
};

}  // namespace nbsim
