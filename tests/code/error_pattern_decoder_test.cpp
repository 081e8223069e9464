// The error-pattern decoder against the codec's own decoder, block by block, in every variant
// this machine runs: random codes with few checks, small alphabets and dense errors, so that the
// rare votes (ties, a corrected symbol voted back, a margin of exactly the threshold) come up
// thousands of times, far more often than in whole simulated points.
#include "code/error_pattern_decoder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench/random_points.h"
#include "code/nonbinary_codec.h"
#include "code/threshold_decoder.h"

namespace nbsim {
namespace {

CodeDescription smallCode(std::mt19937_64& random) {
  const auto below = [&random](std::int32_t n) {
    return static_cast<std::int32_t>(random() % static_cast<std::uint64_t>(n));
  };
  CodeDescription code;
  code.nk = 1 + below(4);
  code.nr = 1 + below(3);
  // Now and then a long code, whose passes take several groups of up to 32 positions.
  const std::int32_t largestTap = 1 + below(below(4) == 0 ? 60 : 12);
  for (std::int32_t i = 0; i < code.nk; ++i) {
    for (std::int32_t v = 0; v < code.nr; ++v) {
      // Up to nine taps in all on a branch, so that both one-symbol and eight-symbol votes of
      // every size are taken; now and then a duplicated tap or an empty polynomial.
      const std::int32_t count = below(code.nr == 1 ? 10 : 4);
      for (std::int32_t n = 0; n < count; ++n) {
        code.polynomials[i][v].taps.push_back(below(largestTap + 1));
      }
    }
  }
  return code;
}

TEST(ErrorPatternDecoder, DecodesEveryBlockAsTheCodec) {
  std::mt19937_64 random(7);
  const std::int32_t alphabets[] = {2, 3, 4, 5, 7, 16, 128, 256, 257, 32768, 40000, 65536};
  for (int n = 0; n < 300; ++n) {
    const CodeDescription code = smallCode(random);
    const std::int32_t Q = alphabets[random() % std::size(alphabets)];
    // Mostly the program's schedule; now and then thresholds in any order, which decide the
    // passes that are skipped.
    IterationSchedule schedule =
        IterationSchedule::standard(3 + static_cast<std::int32_t>(random() % 8), code.nk, code.nr);
    if (n % 3 == 0) {
      for (std::int32_t& threshold : schedule.threshold) {
        threshold = static_cast<std::int32_t>(random() % 4);
      }
    }
    const NonBinaryCodec codec(code, Q, schedule);
    ThresholdDecoder reference(codec);
    ASSERT_TRUE(ErrorPatternDecoder::supports(codec));
    std::vector<std::unique_ptr<ErrorPatternDecoder>> decoders;
    for (const DecoderVariant variant : availableDecoderVariants()) {
      decoders.push_back(std::make_unique<ErrorPatternDecoder>(codec, variant));
    }
    std::string thresholds;
    for (const std::int32_t threshold : schedule.threshold) {
      thresholds += ' ';
      thresholds += std::to_string(threshold);
    }
    SCOPED_TRACE("Q=" + std::to_string(Q) + testing::describeTaps(code) + " thresholds" +
                 thresholds);

    const std::int32_t L = codec.blockLength();
    const auto zeros = [L](std::int32_t branches) {
      return BranchTable(static_cast<std::size_t>(branches), std::vector<Symbol>(L, 0));
    };
    const BranchTable transmitted = zeros(code.nk);
    std::vector<IterationStats> stats(decoders.size());
    for (IterationStats& each : stats) each.reset(codec.itert());
    // From a few errors to most symbols wrong.
    const double density = 0.05 + 0.6 * static_cast<double>(random() % 1000) / 1000.0;
    std::uniform_int_distribution<std::int32_t> value(1, Q - 1);
    std::bernoulli_distribution wrong(density);
    for (int block = 0; block < 40; ++block) {
      BranchTable received = zeros(code.nk);
      BranchTable receivedChecks = zeros(code.nr);
      BranchTable decoded = zeros(code.nk);
      for (auto& decoder : decoders) decoder->startBlock();
      for (std::int32_t i = 0; i < code.nk; ++i) {
        for (std::int32_t c = 0; c < L; ++c) {
          if (!wrong(random)) continue;
          received[i][c] = value(random);
          for (auto& decoder : decoders) decoder->addInformationError(i, c, received[i][c]);
        }
      }
      for (std::int32_t v = 0; v < code.nr; ++v) {
        for (std::int32_t j = 0; j < L; ++j) {
          if (!wrong(random)) continue;
          receivedChecks[v][j] = value(random);
          for (auto& decoder : decoders) decoder->addCheckError(v, j, receivedChecks[v][j]);
        }
      }
      reference.decode(transmitted, received, receivedChecks, decoded);
      std::int32_t stillWrong = 0;
      for (const auto& branch : decoded) {
        for (Symbol symbol : branch) stillWrong += symbol != 0;
      }
      for (std::size_t k = 0; k < decoders.size(); ++k) {
        SCOPED_TRACE(decoderVariantName(availableDecoderVariants()[k]));
        ASSERT_EQ(decoders[k]->decodeBlock(stats[k]), stillWrong) << "block " << block;
        ASSERT_EQ(stats[k], reference.stats()) << "block " << block;
      }
    }
  }
}

}  // namespace
}  // namespace nbsim
