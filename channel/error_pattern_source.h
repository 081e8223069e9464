// The Q-ary symmetric channel applied to the all-zero block, read from the shared draw stream.
// The channel's draws never depend on the symbols it carries, so the errors it adds to any block
// are the values it gives the all-zero block: this yields the same error patterns as transmit,
// block after block, with one comparison per symbol and no division except per corrupted symbol.
#pragma once

#include <cstdint>

#include "channel/draw_stream.h"

namespace nbsim {

// The largest generator output s2 whose uniform value s2 / 2147483647 is at or below P0, so that
// `uniform() <= P0` is exactly `s2 <= bound`; -1 when no output is (P0 < 0 or not a number).
std::int32_t corruptionBound(float P0);

// Where the symbols of a stretch of draws start. A symbol takes one draw, or two when the first is
// at or below the bound (the second is its error value): so the draw after any draw above the
// bound starts a symbol, whatever that draw did, and a stretch can be parsed from there without
// the draws before it.
struct SymbolParse {
  std::int64_t symbols = 0;  // the symbols that start in the stretch
  std::int64_t next = 0;     // where the symbol after them starts: the stretch's end, or one more
};

// Parses draws[from ..] at `bound` from a symbol that starts at `from`: the symbols that start
// before `to` (from <= to), reading draws[from .. to - 1] only. `wide` as for DrawCursor.
SymbolParse parseSymbols(const std::int32_t* draws, std::int64_t from, std::int64_t to,
                         std::int32_t bound, bool wide = false);

// A stretch of the stream parsed from its first draw and from the one after, when it is not
// known at which of the two the symbols start: for each, the symbols that start in draws[0 ..
// count - 1] and where the one after them starts. From `first`, its parse from draw 0
// (parseSymbols(draws, 0, count, bound)); the parse from draw 1 mostly reads only a few draws.
struct StretchParse {
  std::int64_t symbols[2] = {0, 0};
  std::int64_t next[2] = {0, 0};
};
StretchParse parseStretch(const std::int32_t* draws, std::int64_t count, std::int32_t bound,
                          const SymbolParse& first, bool wide = false);

// a mod d for any 32-bit a and divisor d >= 1, by two multiplications instead of a division
// (the remainder is the high part of the fraction a / d scaled by 2^64).
class RemainderDivisor {
 public:
  explicit RemainderDivisor(std::uint32_t d) : d_(d), inverse_(~std::uint64_t{0} / d + 1) {}

  std::uint32_t remainder(std::uint32_t a) const {
    const std::uint64_t fraction = inverse_ * a;
#if defined(__SIZEOF_INT128__)
    // The high 64 bits of fraction x d, from one 64 x 64-bit product.
    __extension__ using Wide = unsigned __int128;
    return static_cast<std::uint32_t>((static_cast<Wide>(fraction) * d_) >> 64);
#else
    // The high 64 bits of fraction x d, from two 32 x 32-bit products.
    const std::uint64_t low = (fraction & 0xFFFFFFFFu) * d_;
    const std::uint64_t high = (fraction >> 32) * d_;
    return static_cast<std::uint32_t>((high + (low >> 32)) >> 32);
#endif
  }

 private:
  std::uint64_t d_;
  std::uint64_t inverse_;
};

class ErrorPatternSource {
 public:
  // Reads `cache` for an alphabet of Q symbols, 2..2147483647; `wideMarks` as for DrawCursor.
  ErrorPatternSource(DrawStreamCache& cache, std::int32_t Q, bool wideMarks = false);

  // Starts a point with error probability P0 at draw `firstDraw` of the stream (0: its start;
  // a point that goes on elsewhere starts at the draw where its next block begins).
  void startPoint(float P0, std::int64_t firstDraw = 0);

  // Reads on from the caller's copy of the stream, as DrawCursor::readFrom, at the error
  // probability of the last startPoint.
  void readFrom(const std::int32_t* draws, std::int64_t count, std::int64_t firstDraw,
                std::int64_t at) {
    cursor_.readFrom(draws, count, firstDraw, at);
  }

  // Where the next symbol's draw stands in the stream.
  std::int64_t position() const { return cursor_.position(); }

  // Passes `count` symbols through the channel without telling their errors: only the position
  // moves, as far as transmitZeros would move it.
  void skip(std::int64_t count) {
    cursor_.transmit(bound_, count, [](std::int64_t, std::int32_t) {});
  }

  // Passes `count` symbols of value 0 through the channel and calls onError(s, e) for every
  // symbol s (0..count-1, ascending) that leaves it as e (1..Q-1).
  template <typename OnError>
  void transmitZeros(std::int64_t count, OnError&& onError) {
    cursor_.transmit(bound_, count, [this, &onError](std::int64_t s, std::int32_t drawn) {
      const std::uint32_t other = otherValues_.remainder(static_cast<std::uint32_t>(drawn));
      onError(s, static_cast<std::int32_t>(other) + 1);
    });
  }

 private:
  DrawCursor cursor_;
  RemainderDivisor otherValues_;
  std::int32_t bound_ = -1;
};

}  // namespace nbsim
