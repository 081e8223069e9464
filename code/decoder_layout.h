// Where the fast decoder keeps a block in its flat arrays: the index of every decision,
// difference, flag and syndrome symbol, and of every error in the whole sums' copy.
//
// Decision (i, c): row i of L. The difference d(i, c) and its flag d != 0: row i of L after
// flagPad zero flags. Syndrome symbol (v, j) and its non-zero flag: row v of 2L after flagPad
// zero flags, at j and again at j + L (its mirror), so that c - t + L needs no wrap. Error (i, c)
// in the whole sums' copy: row i of 2L + flagPad, at c and again at c + L, so that c + t needs
// no wrap. A block in bytes keeps its syndrome symbols and differences at the same indices, in
// arrays of bytes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace nbsim {

class DecoderLayout {
 public:
  // Zero flags in front of every flag array, so that a group of up to 32 positions may start
  // below position 0.
  static constexpr std::int32_t flagPad = 32;

  DecoderLayout(std::int32_t nk, std::int32_t nr, std::int32_t L)
      : nk_(nk),
        nr_(nr),
        L_(L),
        changedStride_(flagPad + L),
        syndromeStride_(flagPad + 2 * L),
        mirroredStride_(2 * L + flagPad) {}

  std::int32_t nk() const { return nk_; }
  std::int32_t nr() const { return nr_; }
  std::int32_t L() const { return L_; }

  std::int32_t decision(std::int32_t i, std::int32_t c) const { return i * L_ + c; }
  // d(i, c) and its flag d != 0; c may go down to -flagPad.
  std::int32_t changed(std::int32_t i, std::int32_t c) const {
    return i * changedStride_ + flagPad + c;
  }
  // Syndrome symbol (v, j) and its non-zero flag; j may go down to -flagPad.
  std::int32_t syndrome(std::int32_t v, std::int32_t j) const {
    return v * syndromeStride_ + flagPad + j;
  }
  // Error (i, c) in the whole sums' copy.
  std::int32_t mirrored(std::int32_t i, std::int32_t c) const { return i * mirroredStride_ + c; }
  // How far above a syndrome symbol, a non-zero flag or a copied error its mirror stands.
  std::int32_t mirror() const { return L_; }

  std::size_t decisionSize() const { return size(nk_, L_); }
  std::size_t changedSize() const { return size(nk_, changedStride_); }
  std::size_t syndromeSize() const { return size(nr_, syndromeStride_); }
  std::size_t mirroredSize() const { return size(nk_, mirroredStride_); }

 private:
  static std::size_t size(std::int32_t rows, std::int32_t stride) {
    return static_cast<std::size_t>(rows) * static_cast<std::size_t>(stride);
  }

  std::int32_t nk_;
  std::int32_t nr_;
  std::int32_t L_;
  std::int32_t changedStride_;
  std::int32_t syndromeStride_;
  std::int32_t mirroredStride_;
};

}  // namespace nbsim
