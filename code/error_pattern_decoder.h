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
// non-zero syndrome (n), votes only where a correction is possible, and skips passes that
// cannot correct anything. Both shortcuts are proven where they are taken.
#pragma once

#include <cstdint>
#include <vector>

#include "code/iteration_stats.h"
#include "code/nonbinary_codec.h"
#include "text/symbol.h"

namespace nbsim {

class ErrorPatternDecoder {
 public:
  // True when this decoder reproduces the codec exactly: a schedule with difference weight 1,
  // every branch in every iteration and no negative threshold, as the program builds it.
  static bool supports(const NonBinaryCodec& codec);

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
  // One tap t of polynomial (i, v) with the array offsets that the hot loops add a position to.
  struct InformationTap {
    std::int32_t v;
    std::int32_t t;
    std::int32_t syndromeOffset;  // + c: syndrome (v, c - t mod L) in its mirrored array
  };
  struct CheckTap {
    std::int32_t scoreOffset;  // + j: symbol (i, j + t) in the unwrapped score array
  };

  // One pass; returns whether it corrected anything, and through `nextBoundReached` whether any
  // symbol reached the bound of `nextThreshold` when it was visited.
  bool runIteration(std::int32_t threshold, std::int32_t nextThreshold, bool& nextBoundReached);
  // Bit k set: some branch at position top - k (>= 0) reaches its bound; k = 0..7.
  std::uint32_t reachingPositions(std::int32_t top, std::int32_t threshold) const;
  std::int32_t score(std::int32_t i, std::int32_t c) const {
    const std::int16_t* const unwrapped = &score_[i * scoreStride_ + scorePad];
    return unwrapped[c] + unwrapped[c + L_];
  }
  bool findCorrection(std::int32_t i, std::int32_t c, std::int32_t threshold, Symbol& a);
  void applyCorrection(std::int32_t i, std::int32_t c, std::uint32_t minusA);
  // Adds x (0..Q-1) to syndrome symbol (v, j) and keeps the scores.
  void addToSyndrome(std::int32_t v, std::int32_t j, std::uint32_t x);
  // (x - y) mod L for x, y in 0..L-1, without a division.
  std::int32_t minusModL(std::int32_t x, std::int32_t y) const {
    const std::int32_t difference = x - y;
    return difference + ((difference >> 31) & L_);
  }

  // Zero scores in front of every branch, so that a group of eight positions may start below 0.
  static constexpr std::int32_t scorePad = 8;

  std::int32_t nk_;
  std::int32_t nr_;
  std::int32_t L_;
  std::uint32_t Q_;
  std::vector<std::int32_t> threshold_;
  // The taps of information branch i, v ascending: informationTaps_[tapStart_[i] ..
  // tapStart_[i + 1]). The taps of check branch v, i ascending: checkTaps_[checkStart_[v] ..
  // checkStart_[v + 1]).
  std::vector<InformationTap> informationTaps_;
  std::vector<std::int32_t> tapStart_;
  std::vector<CheckTap> checkTaps_;
  std::vector<std::int32_t> checkStart_;
  std::vector<std::int32_t> checks_;  // J(i): taps of information branch i

  // The block, as errors. Information symbol (i, c) at i * L + c. Syndrome (v, j) at v * 2L + j
  // and again at v * 2L + j + L, so that c - t + L needs no wrap.
  std::vector<std::uint32_t> decision_;
  std::vector<std::uint32_t> difference_;
  std::vector<std::uint32_t> syndrome_;
  // The score 2n(i, c) + 2[d(i, c) != 0], unwrapped: a change at position p in 0..2L-1 is added
  // at p, and the score of (i, c) is the sum of the entries c and c + L of branch i. A vote can
  // correct only when the score reaches J(i) + threshold + 2.
  std::int32_t scoreStride_;
  std::vector<std::int16_t> score_;
  std::vector<std::uint32_t> voteValues_;
  std::int32_t wrong_ = 0;  // decisions with a non-zero error
  std::int32_t nonzeroSyndromes_ = 0;
  bool clean_ = true;
};

}  // namespace nbsim
