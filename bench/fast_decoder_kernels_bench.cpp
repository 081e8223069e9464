// The fast path's hot kernels one by one, on the bundled example code (nk = nr = 1, taps 0 1 4 9
// 15 22 32 34, L = 69, J = 8) with Q = 256, in every decoder variant this machine runs:
//
// - BM_GroupVote: one vote of eight positions (SSE2) or sixteen (AVX2; wide:2 with AVX-512's
//   registers), 8 checks, without d; aim under 20 ns each (sixteen positions for the price of
//   eight). full:1 is the vote for values of 16 bits (Q up to 65536), a few steps more: aim
//   under 22 ns each.
// - BM_LoneVote: one position's vote, 8 checks; aim under 10 ns.
// - BM_ErrorPatterns: a block's error pattern read from the shared draw stream (138 symbols,
//   the stream already made); aim under 0.6 ns per symbol at P0 = 0.1.
// - BM_DecodeBlock: a whole block through the fast decoder (syndrome, counts, votes,
//   corrections) from prepared error patterns, per information symbol; aims per symbol for
//   every vector variant: 23 ns at P0 = 0.2, 9 ns at 0.1, 4.3 ns at 0.05, 2 ns at 0.02.
//
// The aims are for one core of a current x86-64 machine in a Release build; the time per
// information symbol shows as "time_per_symbol".
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "channel/draw_stream.h"
#include "channel/error_pattern_source.h"
#include "code/decoder_variant.h"
#include "code/error_pattern_decoder.h"
#include "code/nonbinary_codec.h"
#include "code/vote_kernels.h"
#include "code/wide_vote_kernels.h"

namespace nbsim {
namespace {

constexpr std::int32_t kQ = 256;

CodeDescription exampleCode() {
  CodeDescription code;
  code.nk = 1;
  code.nr = 1;
  code.polynomials[0][0].taps = {0, 1, 4, 9, 15, 22, 32, 34};
  return code;
}

// Syndrome rows as the decoder keeps them (each value twice, L apart) with about a third of the
// values non-zero and many repeats, and the check offsets of the example code.
struct VoteInputs {
  std::vector<std::uint32_t> syndromes;
  std::vector<std::int32_t> offsets;
  std::vector<std::int16_t> counts;

  VoteInputs() {
    const std::int32_t L = 69;
    std::mt19937 random(5);
    syndromes.assign(16 + 2 * L + 16, 0);
    for (std::int32_t j = 0; j < L; ++j) {
      const std::uint32_t value = random() % 3 == 0 ? 1 + random() % 4 : 0;
      syndromes[16 + j] = value;
      syndromes[16 + j + L] = value;
    }
    for (const std::int32_t t : {0, 1, 4, 9, 15, 22, 32, 34}) offsets.push_back(16 + L - t);
    counts.assign(16, 5);
  }
};

void BM_GroupVote(benchmark::State& state) {
  const VoteInputs inputs;
  std::vector<std::uint32_t> values(16);
  const bool wide = state.range(0) != 0;
#if NBSIM_WIDE_DECODER
  if (wide && !__builtin_cpu_supports("avx2")) {
    state.SkipWithError("no AVX2 on this processor");
    return;
  }
#else
  if (wide) {
    state.SkipWithError("no 256-bit kernels in this build");
    return;
  }
#endif
  const bool full = state.range(1) != 0;
  std::int32_t first = 0;
  std::uint32_t sum = 0;
  for (auto _ : state) {
    const std::uint32_t* const syndromes = inputs.syndromes.data() + first;
#if NBSIM_WIDE_DECODER
    if (state.range(0) == 2) {
      sum += (full ? votes::wideGroupVoteKernelsWithoutDFullRange32
                   : votes::wideGroupVoteKernelsWithoutD32)[7](
          nullptr, syndromes, inputs.offsets.data(), inputs.counts.data(), 0, 0xFFFF,
          values.data());
    } else if (wide) {
      sum += (full ? votes::wideGroupVoteKernelsWithoutDFullRange
                   : votes::wideGroupVoteKernelsWithoutD)[7](
          nullptr, syndromes, inputs.offsets.data(), inputs.counts.data(), 0, 0xFFFF,
          values.data());
    } else
#endif
    {
      sum += (full ? votes::groupVoteKernelsWithoutDFullRange : votes::groupVoteKernelsWithoutD)[7](
          nullptr, syndromes, inputs.offsets.data(), inputs.counts.data(), 0, 0xFF, values.data());
    }
    first = first + 16 >= 64 ? 0 : first + 16;
  }
  benchmark::DoNotOptimize(sum);
  state.SetLabel(wide ? "avx2, 16 positions" : "sse2, 8 positions");
}
BENCHMARK(BM_GroupVote)->ArgNames({"wide", "full"})->ArgsProduct({{0, 1, 2}, {0, 1}});

void BM_LoneVote(benchmark::State& state) {
  const VoteInputs inputs;
  std::int32_t c = 0;
  std::uint32_t sum = 0;
  for (auto _ : state) {
    std::uint32_t a = 0;
    sum += votes::loneVotes[7](0, inputs.syndromes.data() + c, inputs.offsets.data(), 5, 0, a);
    sum += a;
    c = c + 1 == 69 ? 0 : c + 1;
  }
  benchmark::DoNotOptimize(sum);
}
BENCHMARK(BM_LoneVote);

void BM_ErrorPatterns(benchmark::State& state) {
  const float P0 = static_cast<float>(state.range(0)) / 1000.0f;
  DrawStreamCache cache(12345);
  ErrorPatternSource source(cache, kQ);
  source.startPoint(P0);
  std::int64_t errors = 0;
  std::int64_t blocks = 0;
  for (auto _ : state) {
    // A block reads about 150 draws; start over before the cached stream (8 Mi draws) ends.
    if (++blocks % 50000 == 0) source.startPoint(P0);
    source.transmitZeros(138, [&errors](std::int64_t s, Symbol e) { errors += s + e; });
  }
  benchmark::DoNotOptimize(errors);
  state.counters["time_per_symbol"] = benchmark::Counter(
      138, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_ErrorPatterns)->ArgName("P0_milli")->Arg(100)->Arg(20);

// A block's errors: (branch 0 for information, 1 for checks, position, error).
struct PatternError {
  std::int32_t check;
  std::int32_t position;
  Symbol error;
};

void BM_DecodeBlock(benchmark::State& state) {
  const float P0 = static_cast<float>(state.range(0)) / 1000.0f;
  const auto variants = availableDecoderVariants();
  if (static_cast<std::size_t>(state.range(1)) >= variants.size()) {
    state.SkipWithError("variant not available here");
    return;
  }
  const DecoderVariant variant = variants[static_cast<std::size_t>(state.range(1))];
  const NonBinaryCodec codec(exampleCode(), kQ, 10);
  const std::int32_t L = codec.blockLength();
  DrawStreamCache cache(777);
  ErrorPatternSource source(cache, kQ);
  source.startPoint(P0);
  std::vector<std::vector<PatternError>> patterns(1024);
  for (auto& pattern : patterns) {
    for (std::int32_t check = 0; check < 2; ++check) {
      source.transmitZeros(L, [&pattern, check](std::int64_t s, Symbol e) {
        pattern.push_back({check, static_cast<std::int32_t>(s), e});
      });
    }
  }
  ErrorPatternDecoder decoder(codec, variant);
  IterationStats stats;
  stats.reset(codec.itert());
  std::size_t next = 0;
  for (auto _ : state) {
    decoder.startBlock();
    for (const PatternError& error : patterns[next]) {
      if (error.check == 0) {
        decoder.addInformationError(0, error.position, error.error);
      } else {
        decoder.addCheckError(0, error.position, error.error);
      }
    }
    benchmark::DoNotOptimize(decoder.decodeBlock(stats));
    next = next + 1 == patterns.size() ? 0 : next + 1;
  }
  state.SetLabel(decoderVariantName(variant));
  state.counters["time_per_symbol"] = benchmark::Counter(
      L, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
// P0 in thousandths; the variant as its place in availableDecoderVariants().
BENCHMARK(BM_DecodeBlock)
    ->ArgNames({"P0_milli", "variant"})
    ->ArgsProduct({{200, 100, 50, 20}, {0, 1, 2}});

}  // namespace
}  // namespace nbsim
