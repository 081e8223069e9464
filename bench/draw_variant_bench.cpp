// Measures the channel generator's stretches of draws, one chunk of the shared stream (65536
// draws) and one cursor's live buffer (4096), for every draw variant this processor has; the
// counter "time_per_draw" reports it. One draw is six dependent shift-XOR steps: about 7 ns for
// the plain generator. The aim, the transposition of the lanes into stretches included: at most
// 1 ns per draw with SSE2, 0.5 ns with AVX2 and 0.3 ns with AVX-512.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "channel/shift_xor_generator.h"

namespace {

void fillDraws(benchmark::State& state) {
  const auto variant = static_cast<nbsim::DrawVariant>(state.range(0));
  const auto count = static_cast<std::size_t>(state.range(1));
  bool available = false;
  for (const nbsim::DrawVariant there : nbsim::availableDrawVariants()) {
    available |= there == variant;
  }
  if (!available) {
    state.SkipWithError("this processor lacks the variant");
    return;
  }
  const nbsim::LaneFill fill(count, variant);
  state.SetLabel(nbsim::drawVariantName(fill.variant()));
  nbsim::ShiftXorGenerator generator;
  generator.init(12345);
  std::vector<std::int32_t> draws(count);
  for (auto _ : state) {
    fill(generator, draws.data());
    benchmark::DoNotOptimize(draws.data());
    benchmark::ClobberMemory();
  }
  const auto made =
      static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(count);
  state.SetItemsProcessed(made);
  state.counters["time_per_draw"] = benchmark::Counter(
      static_cast<double>(made), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// Variants by number: 0 plain, 1 sse2, 2 avx2, 3 avx512.
BENCHMARK(fillDraws)->ArgNames({"variant", "draws"})->ArgsProduct({{0, 1, 2, 3}, {4096, 65536}});

}  // namespace
