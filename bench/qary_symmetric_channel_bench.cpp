// Measures the Q-ary symmetric channel's transmit per symbol, Q = 256, for a short code block
// (69 symbols) and a long one, at P0 = 0.1 and 0.02; the counter "time_per_symbol" reports it.
// Each symbol costs one draw, and a corrupted one a second draw and a division. A draw is six
// dependent shift-XOR steps (about 7 ns), so the aim is under 10 ns per symbol.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "channel/qary_symmetric_channel.h"

namespace {

void transmitBlock(benchmark::State& state) {
  const auto length = static_cast<std::int32_t>(state.range(0));
  // The error probability is passed in thousandths because benchmark arguments are integers.
  const float P0 = static_cast<float>(state.range(1)) / 1000.0f;

  nbsim::QarySymmetricChannel channel(256, 1);
  channel.setErrorProbability(P0);
  channel.reseed();

  std::vector<nbsim::Symbol> input(static_cast<std::size_t>(length));
  for (std::size_t i = 0; i < input.size(); ++i) {
    input[i] = static_cast<nbsim::Symbol>(i % 256);
  }
  std::vector<nbsim::Symbol> output(input.size());

  for (auto _ : state) {
    channel.transmit(input.data(), output.data(), length);
    benchmark::DoNotOptimize(output.data());
    benchmark::ClobberMemory();
  }

  const auto symbols = static_cast<std::int64_t>(state.iterations()) * length;
  state.SetItemsProcessed(symbols);
  state.counters["time_per_symbol"] = benchmark::Counter(
      static_cast<double>(symbols), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

BENCHMARK(transmitBlock)
    ->ArgNames({"L", "P0_permille"})
    ->Args({69, 100})
    ->Args({69, 20})
    ->Args({65536, 100})
    ->Args({65536, 20});

}  // namespace
