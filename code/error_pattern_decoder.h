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
// time or more, how many of each information symbol's J checks have a non-zero syndrome (n), votes
// only where a correction is possible (a group's votes at once where several are), and skips
// passes that cannot correct anything. Alphabets of up to 256 symbols keep the block in bytes and
// take 32 positions a step where the processor has AVX2; with one information branch, a group's
// values stay in vectors that each correction updates in place. Every shortcut is proven where it
// is taken.
//
// Its parts: the block and where it lives (decoder_block.h, decoder_layout.h), the syndrome
// builder (syndrome_builder.h), the passes (decoder_passes.h), and the votes, one symbol at a
// time in plain code (scalar_vote.h) or on vectors (vote_kernels.h, wide_vote_kernels.h,
// byte_vote_kernels.h). vector_support.h chooses
// between the vector code and the portable loops.
#pragma once

#include <cstdint>

#include "code/decode_stop.h"
#include "code/decoder_block.h"
#include "code/decoder_passes.h"
#include "code/decoder_variant.h"
#include "code/iteration_stats.h"
#include "code/nonbinary_codec.h"
#include "code/symbol.h"
#include "code/syndrome_builder.h"

namespace nbsim {

class ErrorPatternDecoder {
 public:
  // True when this decoder reproduces the codec exactly: a schedule with difference weight 1,
  // every branch in every iteration and no negative threshold, as the program builds it.
  static bool supports(const NonBinaryCodec& codec);

  // A decoder for the codec's code, schedule, L and Q; `codec` must be supported, `variant`
  // available.
  explicit ErrorPatternDecoder(const NonBinaryCodec& codec,
                               DecoderVariant variant = chosenDecoderVariant());

  // Starts a block received without any error.
  void startBlock();
  // Information symbol (i, c) of the block was received with error e (1..Q-1); once per symbol.
  void addInformationError(std::int32_t i, std::int32_t c, Symbol e) {
    InformationWriter errors = informationErrors(i);
    errors.add(c, e);
    informationReceived(errors);
  }
  // Check symbol (v, j) of the block was received with error e (1..Q-1); once per symbol.
  void addCheckError(std::int32_t v, std::int32_t j, Symbol e) {
    CheckWriter errors = checkErrors(v);
    errors.add(j, e);
    checksReceived(errors);
  }

  // The same for a whole branch at a time, without a call per error, as the channel gives them:
  // the errors of information branch i are told to the writer that informationErrors(i) returns
  // (add(c, e), c ascending), which is then handed back to informationReceived; all in locals of
  // the caller, so that the channel's loop keeps them in registers. Likewise for check branch v.
  struct InformationWriter {
    void add(std::int32_t c, Symbol e) {
      errors[c] = static_cast<std::uint32_t>(e);
      *next++ = {i, c};
    }
    std::uint32_t* errors;  // the branch's decisions, which hold the errors
    SyndromeBuilder::InformationError* next;
    std::int32_t i;
  };
  InformationWriter informationErrors(std::int32_t i) {
    return {&block_.decision[block_.layout.decision(i, 0)], builder_.nextInformationError(), i};
  }
  void informationReceived(const InformationWriter& writer) {
    const auto count = static_cast<std::int32_t>(writer.next - builder_.nextInformationError());
    block_.wrong += count;
    builder_.informationErrorsWritten(count);
    clean_ = clean_ && count == 0;
  }
  struct CheckWriter {
    void add(std::int32_t j, Symbol e) { *next++ = {row + j, Q - static_cast<std::uint32_t>(e)}; }
    SyndromeBuilder::CheckError* next;
    std::int32_t row;  // layout.syndrome(v, 0)
    std::uint32_t Q;
  };
  CheckWriter checkErrors(std::int32_t v) {
    return {builder_.nextCheckError(), block_.layout.syndrome(v, 0), block_.Q};
  }
  void checksReceived(const CheckWriter& writer) {
    const auto count = static_cast<std::int32_t>(writer.next - builder_.nextCheckError());
    builder_.checkErrorsWritten(count);
    clean_ = clean_ && count == 0;
  }

  // Gives up blocks when `stop` is raised (see DecoderPasses::watch); lasts until the next call.
  void watch(const DecodeStop& stop) { passes_.watch(stop); }

  // Runs every iteration on the block, adds the block to `stats` as NonBinaryCodec::decode does,
  // and returns the number of information symbols still wrong after the last iteration; -1 when
  // the block was given up on the watched stop, with only part of it in `stats`.
  std::int32_t decodeBlock(IterationStats& stats);

  std::int32_t blockLength() const { return block_.layout.L(); }

 private:
  DecoderBlock block_;
  SyndromeBuilder builder_;
  DecoderPasses passes_;
  bool clean_ = true;  // no error received since the block was last cleared
  // A block without an information error and with at most this many check errors is never
  // corrected: see decodeBlock.
  std::int32_t idleCheckErrors_ = 0;
};

}  // namespace nbsim
