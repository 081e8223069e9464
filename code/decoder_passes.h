// The passes of the fast decoder over a block whose syndrome is built: each counts, votes and
// corrects as the codec's iteration does, and a pass that can be shown to correct nothing is
// skipped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "code/decode_stop.h"
#include "code/decoder_block.h"
#include "code/decoder_variant.h"
#include "code/nonbinary_codec.h"
#include "code/scalar_vote.h"
#include "code/symbol.h"

namespace nbsim {

class DecoderPasses {
 public:
  // Counts are 16-bit: J + 1 and every bound must stay below 32768.
  static constexpr std::int32_t largestChecks = 16000;
  static constexpr std::int32_t largestThreshold = 1000;

  // The codec's schedule for `block`'s code; the schedule must have difference weight 1, every
  // branch in every pass, and thresholds 0 .. largestThreshold; `variant` must be available.
  DecoderPasses(const NonBinaryCodec& codec, const DecoderBlock& block, DecoderVariant variant);

  // Whether the passes take 32 positions a step on a block in bytes (DecoderBlock::bytes) for
  // the codec's code with `variant`: an alphabet of up to 256 symbols, short checks, and 256-bit
  // vectors.
  static bool takeBytes(const NonBinaryCodec& codec, DecoderVariant variant);

  // Gives up a block when `stop` is raised, where passes are slow enough for that: it is looked
  // at before every pass of a code whose pass reads many syndrome flags, and after every group
  // of positions where each position has many checks. Lasts until the next call.
  void watch(const DecodeStop& stop);

  // Runs every pass on `block`, and adds the information symbols still wrong after pass k to
  // errors[k + 1]; false when the watched stop was raised and the block given up, part way.
  bool run(DecoderBlock& block, std::int64_t* errors);

 private:
  // What countGroup reads of information branch i in a pass.
  struct BranchCounts {
    const std::int16_t* flags;    // the block's non-zero flags
    const std::int16_t* changed;  // the branch's d != 0 flags, from position 0
    const std::int32_t* offsets;  // its taps' check offsets
    const std::int32_t* offsetsEnd;
    std::int16_t* votes;  // its lanes of groupVotes_
    std::int32_t needed;  // this pass's bound
    std::int32_t lowest;  // the lowest bound still to come
  };

  // One pass; returns whether it corrected anything, and through `lowestReached` whether any
  // symbol reached the bound of `lowestThreshold` (the lowest of the later passes) when it was
  // visited, or still did after its correction.
  // `fixedChecks` > 0: the code has one information branch with that many checks, a constant
  // so that the counts unroll; 0: any code.
  template <std::int32_t fixedChecks>
  bool runPass(DecoderBlock& block, std::int32_t threshold, std::int32_t lowestThreshold,
               bool& lowestReached);
  // The same on sixteen positions a step, with 256-bit vectors (the avx2 and avx512 variants),
  // where group votes serve.
  template <std::int32_t fixedChecks>
  bool runWidePass(DecoderBlock& block, std::int32_t threshold, std::int32_t lowestThreshold,
                   bool& lowestReached);
  // The same on 32 positions a step of a block in bytes. After a correction it counts and votes
  // again only the positions below it that share a check with the corrected symbol.
  template <std::int32_t fixedChecks>
  bool runBytePass(DecoderBlock& block, std::int32_t threshold, std::int32_t lowestThreshold,
                   bool& lowestReached);
  // runBytePass for a code of one information branch (`fixedChecks` > 0) without a repeated tap
  // in a check branch: the group's syndrome symbols and differences are kept in vectors, one a
  // check, and a correction adds its value to them in place, so that the counts and votes taken
  // again after it do not read back the bytes it has just stored.
  template <std::int32_t fixedChecks>
  bool runByteWindowPass(DecoderBlock& block, std::int32_t threshold, std::int32_t lowestThreshold,
                         bool& lowestReached);
  // The work of either: `wide` takes sixteen positions a step, else eight.
  template <std::int32_t fixedChecks, bool wide>
  bool passBody(DecoderBlock& block, std::int32_t threshold, std::int32_t lowestThreshold,
                bool& lowestReached);
  using Pass = bool (DecoderPasses::*)(DecoderBlock&, std::int32_t, std::int32_t, bool&);
  enum class PassKind { narrow, wide, bytes, byteWindows };
  template <PassKind kind, std::size_t... fixedChecks>
  static Pass passFor(std::int32_t checks, std::index_sequence<fixedChecks...>);

  // For positions first .. first + 7 of `branch`: counts m = n + [d != 0] into its votes and
  // returns the lanes whose m reaches this pass's bound; `reached` gets the lanes reaching the
  // lowest bound still to come. Bit k stands for position first + k.
  template <std::int32_t fixedChecks>
  static std::uint32_t countGroup(const BranchCounts& branch, std::int32_t first,
                                  std::uint32_t& reached);
  // The same for positions first .. first + 15.
  template <std::int32_t fixedChecks>
  static std::uint32_t countWideGroup(const BranchCounts& branch, std::int32_t first,
                                      std::uint32_t& reached);
  BranchCounts branchCounts(const DecoderBlock& block, std::int32_t i);
  // For positions first .. first + 31 of branch i of a block in bytes: counts m into its
  // byteVotes_ and returns the lanes whose m reaches `needed`, this pass's bound; `reached` gets
  // the lanes reaching `lowestNeeded`, the lowest bound still to come.
  template <std::int32_t fixedChecks>
  std::uint32_t countByteGroup(const DecoderBlock& block, std::int32_t i, std::int32_t first,
                               std::int32_t needed, std::int32_t lowestNeeded,
                               std::uint32_t& reached);
  // voteGroup for 32 positions of a block in bytes, with the values in byteValues_; the values
  // of the lanes in `kept`, voted before on what has not changed since, stay right.
  std::uint32_t voteByteGroup(const DecoderBlock& block, std::int32_t i, std::int32_t first,
                              std::int32_t threshold, std::uint32_t due, std::uint32_t kept);
  // The lanes among `due` (from countGroup) whose vote in branch i corrects at `threshold`, with
  // each one's value in groupValues_; `wide`: sixteen positions from `first`, else eight.
  template <bool wide>
  std::uint32_t voteGroup(const DecoderBlock& block, std::int32_t i, std::int32_t first,
                          std::int32_t threshold, std::uint32_t due);
  // n(i, c) + [d(i, c) != 0]. `fixedChecks` as for runPass.
  template <std::int32_t fixedChecks = 0>
  static std::int32_t nonzeroVotes(const DecoderBlock& block, std::int32_t i, std::int32_t c);
  // nonzeroVotes of a block in bytes.
  template <std::int32_t fixedChecks = 0>
  static std::int32_t nonzeroByteVotes(const DecoderBlock& block, std::int32_t i, std::int32_t c);
  // The scalar vote on symbol (i, c); the same for a block in bytes.
  bool findByteCorrection(const DecoderBlock& block, std::int32_t i, std::int32_t c,
                          std::int32_t threshold, Symbol& a);
  bool findCorrection(const DecoderBlock& block, std::int32_t i, std::int32_t c,
                      std::int32_t threshold, Symbol& a);
  // Adds minusA (Q - a) to decision (i, c), its difference and its checks' syndrome symbols.
  // `fixedChecks` as for runPass.
  template <std::int32_t fixedChecks = 0>
  void applyCorrection(DecoderBlock& block, std::int32_t i, std::int32_t c, std::uint32_t minusA);
  template <std::int32_t fixedChecks = 0>
  void applyByteCorrection(DecoderBlock& block, std::int32_t i, std::int32_t c,
                           std::uint32_t minusA);
  // True when every syndrome symbol of `block` is zero.
  static bool syndromeIsZero(const DecoderBlock& block);

  std::vector<std::int32_t> threshold_;
  std::vector<std::int32_t> lowestThreshold_;  // per pass: the lowest threshold after it
  Pass pass_ = nullptr;                        // runPass for this code
  // A group's votes are taken at once for alphabets of 16-bit values and short checks.
  bool groupVote_ = false;
  bool fullRange_ = false;  // values of 16 bits: the group votes that keep them, no lone vote
  bool registers32_ = false;  // the wide group votes use the 32 registers of AVX-512
  // A group's lanes per branch in groupVotes_ and groupValues_, for either width.
  static constexpr std::int32_t laneStride = 16;
  std::vector<std::int16_t> groupVotes_;        // laneStride per branch, from countGroup
  std::vector<std::uint32_t> groupValues_;      // laneStride per branch, from voteGroup
  std::vector<std::uint32_t> dueLanes_;         // per branch, from countGroup
  std::vector<std::uint32_t> correctingLanes_;  // per branch, from voteGroup
  std::vector<std::int32_t> needed_;            // per branch: this pass's bound
  std::vector<std::int32_t> lowestNeeded_;      // per branch: the lowest bound still to come
  // A block in bytes: 32 lanes per branch of counts m and of winning values.
  static constexpr std::int32_t byteLaneStride = 32;
  std::vector<std::int8_t> byteVotes_;
  std::vector<std::uint8_t> byteValues_;
  // Per pair of branches (i, j), at i * nk + j: bit 32 - delta for every delta in 1 .. 32 such
  // that symbol (j, c - delta) may share a check with symbol (i, c); shifted right by 32 - lane,
  // the lanes below `lane` that a correction of (i, first + lane) may change.
  std::vector<std::uint64_t> sharedChecks_;
  bool syndromeRaised_ = false;  // a syndrome symbol went from zero to non-zero
  // The stop looked at, and where: light codes never look, so that their blocks pay nothing.
  DecodeStop stop_;
  bool slowPasses_ = false;  // a pass reads many flags: look before every pass
  bool slowGroups_ = false;  // a group has many checks: look after every group, too
  bool watching_ = false;    // looking before every pass
  bool watchingGroups_ = false;
  bool abandoned_ = false;  // the pass gave the block up
  ScalarVote scalarVote_;
  // For runByteWindowPass, 128 bytes per window of a group: byte 64 + s is all ones where a
  // correction at lane l changes what lane l + s of the window reads: the differences' window
  // has s = 0 only, and the window of check k the symbols of the same check branch whose tap
  // differs from its own by s modulo L.
  static constexpr std::int32_t windowMaskStride = 128;
  std::vector<std::uint8_t> windowMasks_;
};

}  // namespace nbsim
