// Builds the syndrome of a received block from its list of errors, when the block is decoded.
//
// The errors of a block are received as a list and added to the syndrome at once: one by one
// when they are few, else as whole sums over every position (eight at a time, reduced modulo Q
// once). The sums write every syndrome symbol, so a block's syndrome is built from scratch
// instead of cleared with every block, and cleared only where errors are added one by one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "code/decoder_block.h"
#include "code/decoder_variant.h"
#include "code/nonbinary_codec.h"

namespace nbsim {

class SyndromeBuilder {
 public:
  // For the codec's code on `block`, whose syndrome is all zero; `variant` must be available.
  SyndromeBuilder(const NonBinaryCodec& codec, const DecoderBlock& block, DecoderVariant variant);

  // Forgets the errors received since the last build.
  void clear() {
    informationCount_ = 0;
    checkCount_ = 0;
  }
  // The information errors received and not yet in the syndrome; each one's error is in the
  // block's decision.
  struct InformationError {
    std::int32_t i;
    std::int32_t c;
  };
  // The check errors received and not yet in the syndrome: where each goes in the syndrome
  // (layout.syndrome(v, j)), and what it adds there (Q - e for an error e of check symbol
  // (v, j)).
  struct CheckError {
    std::int32_t at;
    std::uint32_t minusE;
  };
  // Where the next errors go when a caller writes a branch's errors itself, with the number it
  // wrote told afterwards; each list has room for every symbol of the block once.
  InformationError* nextInformationError() { return information_.data() + informationCount_; }
  void informationErrorsWritten(std::int32_t count) { informationCount_ += count; }
  CheckError* nextCheckError() { return checks_.data() + checkCount_; }
  void checkErrorsWritten(std::int32_t count) { checkCount_ += count; }

  // The errors received since the last build.
  std::int32_t informationErrors() const { return informationCount_; }
  std::int32_t checkErrors() const { return checkCount_; }

  // Makes the syndrome of `block` that of the errors received since the last build.
  void build(DecoderBlock& block);

 private:
  // Adds every information error to the syndrome as whole sums, over the mirrored errors.
  // `fixedTaps` > 0: the code has one branch of each kind, with that many taps; 0: any code.
  template <std::int32_t fixedTaps>
  void addInformationSums(DecoderBlock& block);
  // The same sixteen positions at a time, with 256-bit vectors (the avx2 variant); `bytes`: into
  // a block in bytes.
  template <std::int32_t fixedTaps, bool bytes>
  void addWideInformationSums(DecoderBlock& block);
  // Into a block in bytes with Q a power of two: sums of bytes, 32 positions at a time, whose
  // own wrap modulo 256 leaves the sum modulo Q in the low bits.
  template <std::int32_t fixedTaps>
  void addByteInformationSums(DecoderBlock& block);
  using Sums = void (SyndromeBuilder::*)(DecoderBlock&);
  // The sums of one kind: 8 positions a step, 16, 16 into bytes, or 32 on bytes.
  enum class SumKind { narrow, wide, wideBytes, wholeBytes };
  template <SumKind kind, std::size_t... fixedTaps>
  static Sums sumsFor(std::int32_t taps, std::index_sequence<fixedTaps...>);

  std::vector<InformationError> information_;
  std::int32_t informationCount_ = 0;
  std::vector<CheckError> checks_;
  std::int32_t checkCount_ = 0;
  // Every syndrome symbol and flag is zero.
  bool syndromeCleared_ = true;
  // Whole sums serve for alphabets of 15-bit values, where a syndrome symbol's sum fits 16 bits,
  // and for Q = 65536, where the sum's wrap is the reduction; the taps must be below L. mirrored_
  // holds each branch's errors twice in a row, so that position c + t needs no wrap.
  Sums sums_ = nullptr;  // addInformationSums for this code, where whole sums serve
  std::vector<std::int16_t> mirrored_;
  std::vector<std::uint8_t> mirroredBytes_;  // the same for addByteInformationSums
  // Per check branch v: where in mirrored_ each of its taps (i, t) reads, layout.mirrored(i, t),
  // as sumOffsets_[sumStart_[v] .. sumStart_[v + 1]).
  std::vector<std::int32_t> sumOffsets_;
  std::vector<std::int32_t> sumStart_;
};

}  // namespace nbsim
