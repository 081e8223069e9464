// The fast decoder: the iterative threshold decoder run on the channel's error pattern alone,
// with the same corrections and counts as NonBinaryCodec::decode.
//
// Why the error pattern is enough: the code is linear over Z_Q, so the syndrome of a received
// block is that of its error pattern; the votes see only the syndrome and the differences, and
// a decision is wrong exactly when its error (received minus transmitted, minus the corrections)
// is not zero. So the all-zero block may stand for every block, and each block state is kept as
// errors: decision = the symbol's remaining error.
//
// Why it is fast: it builds the syndrome from the list of errors, counts, eight positions at a
// time, how many of each information symbol's J checks have a non-zero syndrome (n), votes only
// where a correction is possible (eight votes at a time where several are), and skips passes that
// cannot correct anything. Every shortcut is proven where it is taken.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "code/iteration_stats.h"
#include "code/nonbinary_codec.h"
#include "code/symbol.h"

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
  // Inline, as the next one: the channel calls them for every error.
  void addInformationError(std::int32_t i, std::int32_t c, Symbol e) {
    clean_ = false;
    decision_[i * L_ + c] = static_cast<std::uint32_t>(e);
    ++wrong_;
    received_[receivedCount_++] = {i, c};
  }
  // Check symbol (v, j) of the block was received with error e (1..Q-1); once per symbol.
  void addCheckError(std::int32_t v, std::int32_t j, Symbol e) {
    clean_ = false;
    receivedChecks_[receivedCheckCount_++] = {v * syndromeStride_ + flagPad + j,
                                              Q_ - static_cast<std::uint32_t>(e)};
  }

  // Runs every iteration on the block, adds the block to `stats` as NonBinaryCodec::decode does,
  // and returns the number of information symbols still wrong after the last iteration.
  std::int32_t decodeBlock(IterationStats& stats);

  std::int32_t blockLength() const { return L_; }

 private:
  // One tap t of polynomial (i, v) with where branch v's arrays start.
  struct InformationTap {
    std::int32_t t;
    std::int32_t base;  // where branch v's mirrored syndrome and flag arrays start
  };

  // What countGroup reads of information branch i in a pass.
  struct BranchCounts {
    const std::int16_t* flags;    // nonzero_
    const std::int16_t* changed;  // the branch's d != 0 flags, from position 0
    const std::int32_t* offsets;  // its taps' checkOffsets_
    const std::int32_t* offsetsEnd;
    std::int16_t* votes;  // its eight groupVotes_
    std::int32_t needed;  // this pass's bound
    std::int32_t lowest;  // the lowest bound still to come
  };

  // One pass; returns whether it corrected anything, and through `lowestReached` whether any
  // symbol reached the bound of `lowestThreshold` (the lowest of the later passes) when it was
  // visited, or still did after its correction.
  // `fixedChecks` > 0: the code has one information branch with that many checks, a constant
  // so that the counts unroll; 0: any code.
  template <std::int32_t fixedChecks>
  bool runIteration(std::int32_t threshold, std::int32_t lowestThreshold, bool& lowestReached);
  using Pass = bool (ErrorPatternDecoder::*)(std::int32_t, std::int32_t, bool&);
  template <std::size_t... fixedChecks>
  static Pass passFor(std::int32_t checks, std::index_sequence<fixedChecks...>);
  // For positions first .. first + 7 of `branch`: counts m = n + [d != 0] into groupVotes_ and
  // returns the lanes whose m reaches this pass's bound; `reached` gets the lanes reaching the
  // lowest bound still to come. Bit k stands for position first + k.
  template <std::int32_t fixedChecks>
  std::uint32_t countGroup(const BranchCounts& branch, std::int32_t first, std::uint32_t& reached);
  BranchCounts branchCounts(std::int32_t i);
  // The lanes among `due` (from countGroup) whose vote in branch i corrects at `threshold`, with
  // each one's value in groupValues_.
  std::uint32_t voteGroup(std::int32_t i, std::int32_t first, std::int32_t threshold,
                          std::uint32_t due);
  // n(i, c) + [d(i, c) != 0].
  // `fixedChecks` as for runIteration.
  template <std::int32_t fixedChecks = 0>
  std::int32_t nonzeroVotes(std::int32_t i, std::int32_t c) const;
  bool findCorrection(std::int32_t i, std::int32_t c, std::int32_t threshold, Symbol& a);
  // `fixedChecks` as for runIteration.
  template <std::int32_t fixedChecks = 0>
  void applyCorrection(std::int32_t i, std::int32_t c, std::uint32_t minusA);
  // Adds x (0..Q-1) to syndrome symbol j of the branch whose arrays start at `base`, and keeps
  // its non-zero flag; while the block is received.
  void addToSyndrome(std::int32_t base, std::int32_t j, std::uint32_t x) {
    std::uint32_t* const syndrome = &syndrome_[static_cast<std::size_t>(base)];
    // Both terms are below Q <= 2^31 - 1, so the sum fits 32 bits unsigned.
    const std::uint32_t sum = syndrome[j] + x;
    const std::uint32_t after = sum >= Q_ ? sum - Q_ : sum;
    syndrome[j] = after;
    syndrome[j + L_] = after;
    std::int16_t* const nonzero = &nonzero_[base];
    nonzero[j] = after != 0;
    nonzero[j + L_] = after != 0;
  }
  // Adds x (0..Q-1) to every syndrome symbol that checks information symbol (i, c).
  // `duringPass`: notes in syndromeRaised_ whether a syndrome symbol went from zero to non-zero.
  template <bool duringPass, std::int32_t fixedChecks = 0>
  void addAlongChecks(std::int32_t i, std::int32_t c, std::uint32_t x);
  // True when every syndrome symbol is zero.
  bool syndromeIsZero() const;
  // Adds the information errors received since startBlock to the syndrome, error by error or,
  // when there are many, as whole sums over every position.
  void receiveInformation();
  // `fixedTaps` > 0: the code has one branch of each kind, with that many taps; 0: any code.
  template <std::int32_t fixedTaps>
  void addInformationSums();
  using Sums = void (ErrorPatternDecoder::*)();
  template <std::size_t... fixedTaps>
  static Sums sumsFor(std::int32_t taps, std::index_sequence<fixedTaps...>);

  // Zero flags in front of every flag array, so that a group of eight positions may start below
  // position 0.
  static constexpr std::int32_t flagPad = 8;

  std::int32_t nk_;
  std::int32_t nr_;
  std::int32_t L_;
  std::uint32_t Q_;
  std::vector<std::int32_t> threshold_;
  // The taps of information branch i, v ascending: informationTaps_[tapStart_[i] ..
  // tapStart_[i + 1]).
  std::vector<InformationTap> informationTaps_;
  // Per tap as above: + c gives the index of its check's syndrome symbol and of its flag.
  std::vector<std::int32_t> checkOffsets_;
  std::vector<std::int32_t> tapStart_;
  std::vector<std::int32_t> checks_;  // J(i): taps of information branch i

  // The block, as errors. Decision (i, c) at i * L + c; d(i, c) and its flag d != 0 at
  // i * changedStride_ + flagPad + c. Syndrome (v, j) at v * syndromeStride_ + flagPad + j and
  // again L further, so that c - t + L needs no wrap; its non-zero flag at the same indices of
  // nonzero_.
  std::vector<std::uint32_t> decision_;
  std::vector<std::uint32_t> difference_;
  std::vector<std::uint32_t> syndrome_;
  std::int32_t syndromeStride_;
  std::int32_t changedStride_;
  std::vector<std::int16_t> nonzero_;
  std::vector<std::int16_t> changed_;
  std::vector<std::int16_t> groupVotes_;        // 8 per branch, from countGroup
  std::vector<std::uint32_t> groupValues_;      // 8 per branch, from voteGroup
  std::vector<std::uint32_t> dueLanes_;         // per branch, from countGroup
  std::vector<std::uint32_t> correctingLanes_;  // per branch, from voteGroup
  // A group's eight votes are taken at once for alphabets of 15-bit values and short checks.
  bool groupVote_ = false;
  Pass pass_ = nullptr;                        // runIteration for this code
  std::vector<std::int32_t> lowestThreshold_;  // per pass: the lowest threshold after it
  std::vector<std::int32_t> needed_;           // per branch: this pass's bound
  std::vector<std::int32_t> lowestNeeded_;     // per branch: the lowest bound still to come
  bool syndromeRaised_ = false;                // a syndrome symbol went from zero to non-zero
  std::vector<std::uint32_t> voteValues_;
  std::vector<std::uint8_t> repeatMarks_;  // by the low eight bits of a vote value; kept zero
  // The information errors received and not yet in the syndrome.
  struct ReceivedError {
    std::int32_t i;
    std::int32_t c;
  };
  std::vector<ReceivedError> received_;
  std::int32_t receivedCount_ = 0;
  // The check errors received and not yet in the syndrome: where each goes in syndrome_, and
  // what it adds there.
  struct CheckError {
    std::int32_t at;
    std::uint32_t minusE;
  };
  std::vector<CheckError> receivedChecks_;
  std::int32_t receivedCheckCount_ = 0;
  // Every syndrome symbol and flag is zero: the syndrome of a block is built from scratch
  // instead of cleared with every block, and cleared only where errors are added one by one.
  bool syndromeCleared_ = true;
  // Whole sums serve for alphabets of 15-bit values, where a syndrome symbol's sum fits 16 bits
  // and the taps are below L. mirrored_ holds each branch's errors twice in a row
  // (mirroredStride_ apart), so that position c + t needs no wrap.
  Sums sums_ = nullptr;  // addInformationSums for this code, where whole sums serve
  std::int32_t mirroredStride_ = 0;
  std::vector<std::int16_t> mirrored_;
  // Per check branch v: where in mirrored_ each of its taps (i, t) reads, i * mirroredStride_ + t,
  // as sumOffsets_[sumStart_[v] .. sumStart_[v + 1]).
  std::vector<std::int32_t> sumOffsets_;
  std::vector<std::int32_t> sumStart_;
  std::int32_t wrong_ = 0;  // decisions with a non-zero error
  bool clean_ = true;
};

}  // namespace nbsim
