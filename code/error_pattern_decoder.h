// The fast decoder: the iterative threshold decoder run on the channel's error pattern alone,
// with the same corrections and counts as NonBinaryCodec::decode.
//
// Why the error pattern is enough: the code is linear over Z_Q, so the syndrome of a received
// block is that of its error pattern; the votes see only the syndrome and the differences, and
// a decision is wrong exactly when its error (received minus transmitted, minus the corrections)
// is not zero. So the all-zero block may stand for every block, and each block state is kept as
// errors: decision = the symbol's remaining error.
//
// Why it is fast: it keeps, for every information symbol, how many of its J checks have a
// non-zero syndrome (n), and visits only the symbols that could be corrected; it skips passes
// that cannot correct anything. Both shortcuts are proven where they are taken.
#pragma once

#include <cstdint>
#include <vector>

#include "code/iteration_stats.h"
#include "code/nonbinary_codec.h"
#include "text/symbol.h"

namespace nbsim {

class ErrorPatternDecoder {
 public:
  // True when this decoder reproduces `schedule` exactly: difference weight 1, every branch in
  // every iteration and no negative threshold, as in the schedule the program builds.
  static bool supports(const IterationSchedule& schedule, std::int32_t nk, std::int32_t nr);

  // A decoder for the codec's code, schedule, L and Q; `codec` must be supported.
  explicit ErrorPatternDecoder(const NonBinaryCodec& codec);

  // Starts a block received without any error.
  void startBlock();
  // Information symbol (i, c) of the block was received with error e (1..Q-1); once per symbol.
  void addInformationError(std::int32_t i, std::int32_t c, Symbol e);
  // Check symbol (v, j) of the block was received with error e (1..Q-1); once per symbol.
  void addCheckError(std::int32_t v, std::int32_t j, Symbol e);

  // Runs every iteration on the block, adds the block to `stats` as NonBinaryCodec::decode does,
  // and returns the number of information symbols still wrong after the last iteration.
  std::int32_t decodeBlock(IterationStats& stats);

  std::int32_t blockLength() const { return L_; }

 private:
  struct Tap {
    std::int32_t branch;  // v for an information branch's list, i for a check branch's
    std::int32_t offset;  // the tap t
  };

  bool runIteration(std::int32_t threshold);
  bool findCorrection(std::int32_t i, std::int32_t c, std::int32_t threshold, Symbol& a);
  void applyCorrection(std::int32_t i, std::int32_t c, Symbol a);
  // Adds x (0..Q-1) to syndrome symbol (v, j) and keeps the counts of non-zero syndromes.
  void addToSyndrome(std::int32_t v, std::int32_t j, std::uint32_t x);
  void countSyndromeChange(std::int32_t v, std::int32_t j, std::int32_t delta);
  void refreshCandidate(std::int32_t i, std::int32_t c);
  // The highest position at or below c with a candidate, or -1.
  std::int32_t highestCandidate(std::int32_t c) const;

  std::int32_t nk_;
  std::int32_t nr_;
  std::int32_t L_;
  std::uint32_t Q_;
  std::vector<std::int32_t> threshold_;
  std::vector<std::vector<Tap>> informationTaps_;  // for branch i: (v, t), v ascending
  std::vector<std::vector<Tap>> checkTaps_;        // for branch v: (i, t), i ascending
  std::vector<std::int32_t> checks_;               // J(i): taps of information branch i

  // The block, as errors: index i * L + c for information symbols, v * L + j for syndromes.
  std::vector<std::uint32_t> decision_;
  std::vector<std::uint32_t> difference_;
  std::vector<std::uint32_t> syndrome_;
  std::vector<std::int32_t> nonzeroChecks_;      // n(i, c)
  std::vector<std::uint8_t> candidate_;          // (i, c) passes the filter of any iteration
  std::vector<std::int32_t> candidateBranches_;  // per position c: candidates among the branches
  std::vector<std::uint64_t> candidateWords_;    // bit c: candidateBranches_[c] > 0
  std::vector<std::uint32_t> voteValues_;
  std::int32_t wrong_ = 0;  // decisions with a non-zero error
  std::int32_t nonzeroSyndromes_ = 0;
  bool clean_ = true;
};

}  // namespace nbsim
