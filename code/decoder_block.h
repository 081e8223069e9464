// The block that the fast decoder works on, kept as errors (decision = the symbol's remaining
// error), with the code's taps as the decoder reads them; and the step that received errors and
// corrections share, adding a value along the checks of an information symbol.
//
// Two forms. Wide: syndrome symbols and differences of 32 bits, each with a 16-bit non-zero
// flag. Bytes (alphabets of up to 256 symbols, for the passes on 32 positions a step): syndrome
// symbols and differences of one byte each, without flags; a vote tests them for zero itself.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <vector>

#include "code/decoder_layout.h"
#include "code/nonbinary_codec.h"

namespace nbsim {

// sum mod Q for a sum below 2Q, without a branch: where sum < Q, sum - Q wraps above sum. Whether
// a sum passes Q is as good as a coin toss, and a mispredicted branch costs more than the work.
inline std::uint32_t reducedOnce(std::uint32_t sum, std::uint32_t Q) {
  return std::min(sum, sum - Q);
}

struct DecoderBlock {
  // One tap t of polynomial (i, v) with where branch v's syndrome row starts.
  struct InformationTap {
    std::int32_t t;
    std::int32_t base;  // layout.syndrome(v, 0)
  };

  // An all-zero block, with every syndrome symbol zero, for the codec's code, L and Q; `bytes`:
  // in bytes (Q <= 256).
  explicit DecoderBlock(const NonBinaryCodec& codec, bool bytes = false);

  // Zeroes the decisions and the differences; the syndrome is left to the builder.
  void clear();

  // Adds x (0..Q-1) to every syndrome symbol that checks information symbol (i, c), and keeps
  // their non-zero flags. `duringPass`: x is not 0, and returns whether one of them went from
  // zero to non-zero. `fixedChecks` > 0: branch i has that many checks, a constant so that the
  // loop unrolls.
  template <bool duringPass, std::int32_t fixedChecks = 0>
  bool addAlongChecks(std::int32_t i, std::int32_t c, std::uint32_t x);
  // The same for a block in bytes.
  template <bool duringPass, std::int32_t fixedChecks = 0>
  bool addAlongByteChecks(std::int32_t i, std::int32_t c, std::uint32_t x);

  DecoderLayout layout;
  std::uint32_t Q;

  // The taps of information branch i, v ascending: informationTaps[tapStart[i] ..
  // tapStart[i + 1]).
  std::vector<InformationTap> informationTaps;
  // Per tap as above: + c gives the index of its check's syndrome symbol and of its flag, in the
  // mirror (layout.syndrome(v, L - t)).
  std::vector<std::int32_t> checkOffsets;
  std::vector<std::int32_t> tapStart;
  std::vector<std::int32_t> checks;  // J(i): taps of information branch i
  // Where the checks of every information symbol stand, when the table is small enough to keep:
  // the J(i) syndrome indices of (i, c), each layout.syndrome(v, c - t mod L), from
  // checkIndices[checkStart[i] + c J(i)]; empty when not kept. A correction reads its checks
  // here instead of working out where each one wraps.
  std::vector<std::int32_t> checkIndices;
  std::vector<std::int32_t> checkStart;

  bool bytes;  // the syndrome and the differences are kept in bytes
  // The block, at the indices that `layout` gives. In bytes, the syndrome, the differences and
  // no flags live in syndromeBytes and differenceBytes, and the four arrays after decision stay
  // empty; else the other way round.
  std::vector<std::uint32_t> decision;
  std::vector<std::uint32_t> difference;
  std::vector<std::uint32_t> syndrome;
  std::vector<std::int16_t> nonzero;  // syndrome != 0
  std::vector<std::int16_t> changed;  // difference != 0
  std::vector<std::uint8_t> syndromeBytes;
  std::vector<std::uint8_t> differenceBytes;
  std::int32_t wrong = 0;  // decisions with a non-zero error
  // The index of a syndrome symbol that is likely not zero (the last check error received), which
  // the zero-syndrome test reads first: with a check error in nearly every block, it seldom has
  // to read more.
  std::int32_t likelyNonzero = 0;
};

template <bool duringPass, std::int32_t fixedChecks>
bool DecoderBlock::addAlongByteChecks(std::int32_t i, std::int32_t c, std::uint32_t x) {
  const std::uint32_t modulus = Q;
  const std::int32_t L = layout.L();
  const std::ptrdiff_t mirror = layout.mirror();
  std::uint8_t* const syndromes = syndromeBytes.data();
  std::uint32_t raised = 0;
  const std::int32_t J = fixedChecks > 0 ? fixedChecks : tapStart[i + 1] - tapStart[i];
  // With Q = 256 a byte's own wrap is the reduction.
  const auto add = [&](std::ptrdiff_t at, auto wholeByte) {
    const std::uint32_t before = syndromes[at];
    const std::uint32_t sum = before + x;
    const auto after =
        static_cast<std::uint8_t>(decltype(wholeByte)::value ? sum : reducedOnce(sum, modulus));
    syndromes[at] = after;
    syndromes[at + mirror] = after;
    // x is not 0 modulo Q during a pass, so a zero symbol always becomes non-zero.
    if constexpr (duringPass) raised |= static_cast<std::uint32_t>(before == 0);
  };
  if (!checkIndices.empty()) {
    const std::int32_t* const indices = checkIndices.data() + checkStart[i] + c * J;
    if (modulus == 256) {
#pragma GCC unroll 16
      for (std::int32_t k = 0; k < J; ++k) add(indices[k], std::true_type());
    } else {
#pragma GCC unroll 16
      for (std::int32_t k = 0; k < J; ++k) add(indices[k], std::false_type());
    }
    return raised != 0;
  }
  const InformationTap* const taps = informationTaps.data() + tapStart[i];
#pragma GCC unroll 16
  for (std::int32_t k = 0; k < J; ++k) {
    const std::int32_t difference = c - taps[k].t;
    add(taps[k].base + difference + ((difference >> 31) & L), std::false_type());
  }
  return raised != 0;
}

template <bool duringPass, std::int32_t fixedChecks>
bool DecoderBlock::addAlongChecks(std::int32_t i, std::int32_t c, std::uint32_t x) {
  // The sizes kept in locals.
  const std::uint32_t modulus = Q;
  const std::int32_t L = layout.L();
  const std::ptrdiff_t mirror = layout.mirror();
  std::uint32_t* const syndromes = syndrome.data();
  std::int16_t* const flags = nonzero.data();
  std::uint32_t raised = 0;
  const std::int32_t J = fixedChecks > 0 ? fixedChecks : tapStart[i + 1] - tapStart[i];
  if (!checkIndices.empty()) {
    const std::int32_t* const indices = checkIndices.data() + checkStart[i] + c * J;
#pragma GCC unroll 16
    for (std::int32_t k = 0; k < J; ++k) {
      std::uint32_t* const symbol = syndromes + indices[k];
      std::int16_t* const flag = flags + indices[k];
      const std::uint32_t before = symbol[0];
      const std::uint32_t sum = before + x;
      const std::uint32_t after = reducedOnce(sum, modulus);
      symbol[0] = after;
      symbol[mirror] = after;
      const auto isNonzero = static_cast<std::int16_t>(after != 0);
      flag[0] = isNonzero;
      flag[mirror] = isNonzero;
      // x is not 0 modulo Q during a pass, so a zero symbol always becomes non-zero.
      if constexpr (duringPass) raised |= static_cast<std::uint32_t>(before == 0);
    }
    return raised != 0;
  }
  const InformationTap* const taps = informationTaps.data() + tapStart[i];
#pragma GCC unroll 16
  for (std::int32_t k = 0; k < J; ++k) {
    // Information symbol (i, c) enters the check at position j of branch v where j + t = c.
    const std::int32_t difference = c - taps[k].t;
    const std::ptrdiff_t at = taps[k].base + difference + ((difference >> 31) & L);
    std::uint32_t* const symbol = syndromes + at;
    std::int16_t* const flag = flags + at;
    const std::uint32_t before = symbol[0];
    const std::uint32_t sum = before + x;
    const std::uint32_t after = reducedOnce(sum, modulus);
    symbol[0] = after;
    symbol[mirror] = after;
    // Without a branch: whether a flag changes is as good as a coin toss at a high P0.
    const std::uint32_t isNonzero = after != 0;
    flag[0] = static_cast<std::int16_t>(isNonzero);
    flag[mirror] = static_cast<std::int16_t>(isNonzero);
    if constexpr (duringPass) raised |= isNonzero & static_cast<std::uint32_t>(before == 0);
  }
  return raised != 0;
}

}  // namespace nbsim
