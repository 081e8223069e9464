// The pieces of the channel's fast path against the plain computations they replace: the
// integer bound of the uniform comparison, the division-free remainder and the shared stream of
// draws, in and beyond its cap, read by several threads.
#include "channel/error_pattern_source.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <thread>
#include <utility>
#include <vector>

#include "channel/draw_stream.h"
#include "channel/shift_xor_generator.h"
#include "code/symbol.h"

namespace nbsim {
namespace {

TEST(CorruptionBound, SplitsTheOutputsExactlyWhereTheUniformComparisonDoes) {
  std::mt19937_64 random(7);
  std::vector<float> probabilities = {0.0f, 1e-9f, 1e-6f, 0.002f,    0.02f,
                                      0.1f, 0.24f, 0.5f,  0.999999f, std::nextafter(1.0f, 0.0f)};
  for (int n = 0; n < 2000; ++n) {
    probabilities.push_back(std::uniform_real_distribution<float>(0.0f, 1.0f)(random));
  }
  for (const float P0 : probabilities) {
    const std::int32_t bound = corruptionBound(P0);
    ASSERT_GE(bound, 0) << P0;
    EXPECT_LE(ShiftXorGenerator::toUniform(bound), static_cast<double>(P0)) << P0;
    if (bound < 2147483647) {
      EXPECT_GT(ShiftXorGenerator::toUniform(bound + 1), static_cast<double>(P0)) << P0;
    }
  }
  EXPECT_EQ(corruptionBound(1.0f), 2147483647);
  EXPECT_EQ(corruptionBound(1.5f), 2147483647);
  EXPECT_EQ(corruptionBound(std::numeric_limits<float>::infinity()), 2147483647);
  EXPECT_EQ(corruptionBound(-1e-30f), -1);
  EXPECT_EQ(corruptionBound(-std::numeric_limits<float>::infinity()), -1);
  EXPECT_EQ(corruptionBound(std::numeric_limits<float>::quiet_NaN()), -1);
}

TEST(RemainderDivisor, AgreesWithTheRemainderOperator) {
  std::mt19937_64 random(11);
  const std::vector<std::uint32_t> divisors = {1u,   2u,   3u,     7u,          9u,
                                               255u, 256u, 65535u, 2147483645u, 2147483646u};
  for (const std::uint32_t d : divisors) {
    const RemainderDivisor divisor(d);
    for (const std::uint32_t a : {0u, 1u, d - 1, d, d + 1, 2147483647u}) {
      EXPECT_EQ(divisor.remainder(a), a % d) << a << " mod " << d;
    }
    for (int n = 0; n < 20000; ++n) {
      const auto a = static_cast<std::uint32_t>(random() & 0x7FFFFFFFu);
      ASSERT_EQ(divisor.remainder(a), a % d) << a << " mod " << d;
    }
  }
}

// The first `count` draws of ShiftXorGenerator::init(seed).
std::vector<std::int32_t> plainDraws(std::int32_t seed, std::size_t count) {
  ShiftXorGenerator generator;
  generator.init(seed);
  std::vector<std::int32_t> draws(count);
  for (std::int32_t& draw : draws) draw = generator.nextInt();
  return draws;
}

TEST(DrawStream, ReadsTheGeneratorsSequenceAcrossChunksAndPastTheCap) {
  // Chunks of 5 draws, 3 kept: the cursor reads the cache, then generates live.
  DrawStreamCache cache(-123456, 5, 3);
  const std::vector<std::int32_t> expected = plainDraws(-123456, 10000);
  DrawCursor cursor(cache);
  for (int round = 0; round < 2; ++round) {
    cursor.restart();
    for (std::size_t k = 0; k < expected.size(); ++k) ASSERT_EQ(cursor.next(), expected[k]) << k;
  }
}

TEST(DrawStream, KeepsChunksApartWhateverTheirSizeAgainstTheMemoryPages) {
  // Chunks that share a page-sized block of memory, and chunks larger than one: no chunk may
  // overwrite another.
  for (const std::size_t chunkSize : {std::size_t{100000}, (std::size_t{1} << 19) + 3}) {
    DrawStreamCache cache(77, chunkSize, 3);
    const std::vector<std::int32_t> expected = plainDraws(77, 3 * chunkSize);
    for (std::size_t k = 0; k < 3; ++k) cache.chunk(k);
    for (std::size_t k = 0; k < 3; ++k) {
      ASSERT_TRUE(std::equal(cache.chunk(k), cache.chunk(k) + chunkSize,
                             expected.begin() + static_cast<std::ptrdiff_t>(k * chunkSize)))
          << "chunk " << k << " of " << chunkSize;
    }
  }
}

TEST(DrawStream, CorruptsExactlyTheSymbolsOfTheDrawsAtOrBelowTheBound) {
  const std::vector<std::int32_t> draws = plainDraws(99, 40000);
  const std::vector<std::int32_t> bounds = {-1, 0, 100000000, 1000000000, 2147483646, 2147483647};
  // Each bound alone, then (-2) a bound drawn anew for every run of symbols: the cursor keeps
  // what it compared for one bound and must not use it for another. Single draws read between
  // the runs shift the stream against the words of 64 draws.
  for (const std::int32_t fixed : {-1, 0, 100000000, 1000000000, 2147483646, 2147483647, -2}) {
    DrawStreamCache cache(99, 7, 4);
    // With 256-bit comparisons where the processor has them: chunks of 7 draws end every word
    // early, and the live draws beyond the cap come in whole words.
    DrawCursor cursor(cache, __builtin_cpu_supports("avx2"));
    std::size_t position = 0;
    std::mt19937 random(static_cast<unsigned>(fixed));
    while (position + 400 < draws.size()) {
      const std::int32_t bound = fixed != -2 ? fixed : bounds[random() % bounds.size()];
      const auto count = static_cast<std::int64_t>(random() % 150);
      // One draw per symbol, and one more for the value of each corrupted symbol.
      std::vector<std::pair<std::int64_t, std::int32_t>> expected;
      for (std::int64_t s = 0; s < count; ++s) {
        if (draws[position++] <= bound) expected.emplace_back(s, draws[position++]);
      }
      std::vector<std::pair<std::int64_t, std::int32_t>> seen;
      cursor.transmit(bound, count,
                      [&seen](std::int64_t s, std::int32_t value) { seen.emplace_back(s, value); });
      ASSERT_EQ(seen, expected);
      if (random() % 2 == 0) {
        ASSERT_EQ(cursor.next(), draws[position++]);
      }
    }
  }
}

TEST(DrawStream, GivesEveryThreadTheSameStream) {
  DrawStreamCache cache(4321, 64, 50);
  const std::vector<std::int32_t> expected = plainDraws(4321, 5000);
  std::vector<std::vector<std::int32_t>> seen(4);
  std::vector<std::thread> readers;
  for (auto& draws : seen) {
    readers.emplace_back([&cache, &draws] {
      DrawCursor cursor(cache);
      for (int k = 0; k < 5000; ++k) draws.push_back(cursor.next());
    });
  }
  for (std::thread& reader : readers) reader.join();
  for (const auto& draws : seen) EXPECT_EQ(draws, expected);
}

TEST(ErrorPatternSource, GivesTheChannelsErrorsOnTheAllZeroBlock) {
  for (const std::int32_t Q : {2, 3, 256, 2147483647}) {
    for (const float P0 : {0.0f, 0.05f, 0.5f, 1.0f}) {
      DrawStreamCache cache(777, 16, 2);
      ErrorPatternSource source(cache, Q);
      source.startPoint(P0);
      ShiftXorGenerator generator;
      generator.init(777);
      for (int block = 0; block < 50; ++block) {
        std::vector<Symbol> errors(33, 0);
        source.transmitZeros(33, [&errors](std::int64_t s, Symbol e) { errors[s] = e; });
        for (Symbol error : errors) {
          // The channel's own rule for a symbol of value 0.
          Symbol expected = 0;
          if (generator.uniform() <= static_cast<double>(P0)) {
            expected = generator.nextInt() % (Q - 1) + 1;
          }
          ASSERT_EQ(error, expected) << "Q=" << Q << " P0=" << P0 << " block " << block;
        }
      }
    }
  }
}

// A stretch parsed from any of its symbol starts, against the channel's draw by draw reading (and
// from the draw after, as a stretch whose start is not known yet); and
// a cursor that reads a copy of part of the stream and goes on past its end.
TEST(DrawStream, ParsesAnyStretchFromASymbolStartAndReadsOnPastACopy) {
  const std::vector<std::int32_t> draws = plainDraws(5, 3000);
  std::mt19937 random(3);
  for (const std::int32_t bound : {-1, 0, 100000000, 1000000000, 2147483646, 2147483647}) {
    // Where the symbols start, reading from draw 0.
    std::vector<std::int64_t> starts;
    for (std::int64_t d = 0; d < 2900; d += draws[static_cast<std::size_t>(d)] <= bound ? 2 : 1) {
      starts.push_back(d);
    }
    for (int n = 0; n < 200; ++n) {
      const std::int64_t from = starts[random() % (starts.size() / 2)];
      const std::int64_t to = from + static_cast<std::int64_t>(random() % 200);
      const auto first = std::lower_bound(starts.begin(), starts.end(), from);
      const auto after = std::lower_bound(starts.begin(), starts.end(), to);
      // With 256-bit comparisons too, where the processor has them.
      for (const bool wide : {false, static_cast<bool>(__builtin_cpu_supports("avx2"))}) {
        const SymbolParse parse = parseSymbols(draws.data(), from, to, bound, wide);
        ASSERT_EQ(parse.symbols, after - first) << bound << " " << from << ".." << to;
        ASSERT_EQ(parse.next, *after) << bound << " " << from << ".." << to;
        // From its first draw and from the one after, as a stretch is parsed apart.
        const StretchParse both = parseStretch(draws.data() + from, to - from, bound,
                                               {parse.symbols, parse.next - from}, wide);
        const SymbolParse second = parseSymbols(draws.data(), from + 1, to, bound);
        ASSERT_EQ(both.symbols[0], parse.symbols);
        ASSERT_EQ(both.next[0], parse.next - from);
        ASSERT_EQ(both.symbols[1], second.symbols) << bound << " " << from << ".." << to;
        ASSERT_EQ(both.next[1], second.next - from) << bound << " " << from << ".." << to;
      }
    }
  }
  DrawStreamCache cache(5, 7, 3);
  DrawCursor cursor(cache);
  const std::vector<std::int32_t> copy(draws.begin() + 100, draws.begin() + 200);
  cursor.readFrom(copy.data(), 100, 100, 30);
  for (std::size_t k = 130; k < 3000; ++k) {
    ASSERT_EQ(cursor.position(), static_cast<std::int64_t>(k));
    ASSERT_EQ(cursor.next(), draws[k]) << k;
  }
}

}  // namespace
}  // namespace nbsim
