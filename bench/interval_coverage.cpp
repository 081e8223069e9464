// How often the 95 % intervals of a point's FER and SER (output/error_rate_intervals.h) cover
// the rates that a much longer simulation measures. For each P0 it simulates the point once with
// a large number of block errors as the reference, then many times with other run seeds and the
// point's usual limits, and counts the runs whose intervals hold the reference rates. Aim: 93 to
// 97 % for both rates (an exact interval over few errors covers more, being discrete).
//
//   interval_coverage [--runs N] [--reference-errors N] [--min-block-err N] [--volume N]
//                     [--threads N] [P0 ...]
//
// Defaults: the bundled example's code (Q = 256, itert = 10), 400 runs of minBlockErr = 100
// and a volume that never stops them first, a reference of 10000 block errors, P0 = 0.13 and
// 0.085 (FER near 1e-2 and 1e-4), every core.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "code/nonbinary_codec.h"
#include "engine/sweep.h"
#include "output/error_rate_intervals.h"

namespace {

using namespace nbsim;

struct Settings {
  int runs = 400;
  std::int32_t referenceErrors = 10000;
  std::int32_t minBlockErr = 100;
  std::uint64_t volume = 4000000000u;
  int threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  std::vector<float> P0s;
};

// The bundled example's code.
NonBinaryCodec exampleCodec(std::int32_t Q, std::int32_t itert) {
  CodeDescription code;
  code.nk = 1;
  code.nr = 1;
  code.polynomials[0][0].taps = {0, 1, 4, 9, 15, 22, 32, 34};
  return NonBinaryCodec(code, Q, itert);
}

// The counters of the point at P0 with the run seed `seed` and the limits of `parameters`.
PointCounters simulate(const NonBinaryCodec& codec, const RunParameters& parameters, float P0,
                       std::int32_t seed) {
  PointSimulators simulators(codec, parameters, seed, SweepOptions{});
  return simulators.make()->simulate(P0).counters;
}

// Runs `task(k)` for k = 0 .. count - 1 on `threads` threads.
template <typename Task>
void parallel(int count, int threads, Task task) {
  std::atomic<int> next{0};
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t) {
    workers.emplace_back([&] {
      for (int k; (k = next.fetch_add(1)) < count;) task(k);
    });
  }
  for (std::thread& worker : workers) worker.join();
}

PointCounters& operator+=(PointCounters& sum, const PointCounters& part) {
  sum.blocks += part.blocks;
  sum.blockErrors += part.blockErrors;
  sum.infoSymbols += part.infoSymbols;
  sum.symbolErrors += part.symbolErrors;
  sum.squaredSymbolErrors += part.squaredSymbolErrors;
  return sum;
}

void measure(const NonBinaryCodec& codec, const Settings& settings, float P0) {
  RunParameters parameters;
  parameters.Q = codec.alphabetSize();
  parameters.itert = codec.itert();
  parameters.volume = 1000000000000;  // only the block errors end the reference

  // The reference: independent parts on every thread, summed.
  const int parts = settings.threads;
  parameters.minBlockErr = (settings.referenceErrors + parts - 1) / parts;
  std::vector<PointCounters> referenceParts(static_cast<std::size_t>(parts));
  parallel(parts, settings.threads, [&](int k) {
    referenceParts[static_cast<std::size_t>(k)] = simulate(codec, parameters, P0, 900001 + k);
  });
  PointCounters reference;
  for (const PointCounters& part : referenceParts) reference += part;
  const double referenceFer =
      static_cast<double>(reference.blockErrors) / static_cast<double>(reference.blocks);
  const double referenceSer =
      static_cast<double>(reference.symbolErrors) / static_cast<double>(reference.infoSymbols);

  parameters.minBlockErr = settings.minBlockErr;
  parameters.volume = settings.volume;
  std::atomic<int> ferCovered{0};
  std::atomic<int> serCovered{0};
  std::atomic<std::int64_t> blockErrors{0};
  std::atomic<int> withoutErrors{0};
  parallel(settings.runs, settings.threads, [&](int k) {
    const PointCounters counters = simulate(codec, parameters, P0, 1000 + k);
    const PointIntervals intervals = pointIntervals(counters);
    ferCovered += intervals.fer.lower <= referenceFer && referenceFer <= intervals.fer.upper;
    serCovered += intervals.ser.lower <= referenceSer && referenceSer <= intervals.ser.upper;
    blockErrors += counters.blockErrors;
    withoutErrors += counters.blockErrors == 0;
  });
  const auto share = [&](int covered) {
    const double c = static_cast<double>(covered) / settings.runs;
    return std::pair{100 * c, 100 * std::sqrt(c * (1 - c) / settings.runs)};
  };
  const auto [fer, ferError] = share(ferCovered);
  const auto [ser, serError] = share(serCovered);
  std::printf(
      "P0 %.4g: reference FER %.4e SER %.4e (%lld block errors in %lld blocks)\n"
      "  %d runs of minBlockErr=%d volume=%llu: %.1f block errors per run, %d without any\n"
      "  covered: FER %.1f %% (+-%.1f), SER %.1f %% (+-%.1f)\n",
      P0, referenceFer, referenceSer, static_cast<long long>(reference.blockErrors),
      static_cast<long long>(reference.blocks), settings.runs, settings.minBlockErr,
      static_cast<unsigned long long>(settings.volume),
      static_cast<double>(blockErrors) / settings.runs, withoutErrors.load(), fer, ferError, ser,
      serError);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  Settings settings;
  for (int k = 1; k < argc; ++k) {
    const bool valued = k + 1 < argc;
    if (std::strcmp(argv[k], "--runs") == 0 && valued) {
      settings.runs = std::atoi(argv[++k]);
    } else if (std::strcmp(argv[k], "--reference-errors") == 0 && valued) {
      settings.referenceErrors = std::atoi(argv[++k]);
    } else if (std::strcmp(argv[k], "--min-block-err") == 0 && valued) {
      settings.minBlockErr = std::atoi(argv[++k]);
    } else if (std::strcmp(argv[k], "--volume") == 0 && valued) {
      settings.volume = std::strtoull(argv[++k], nullptr, 10);
    } else if (std::strcmp(argv[k], "--threads") == 0 && valued) {
      settings.threads = std::max(1, std::atoi(argv[++k]));
    } else if (argv[k][0] != '-') {
      settings.P0s.push_back(std::strtof(argv[k], nullptr));
    } else {
      std::fprintf(stderr,
                   "usage: %s [--runs N] [--reference-errors N] [--min-block-err N] [--volume N] "
                   "[--threads N] [P0 ...]\n",
                   argv[0]);
      return 2;
    }
  }
  if (settings.P0s.empty()) settings.P0s = {0.13f, 0.085f};
  if (settings.runs < 1 || settings.referenceErrors < 1 || settings.minBlockErr < 1) return 2;
  const NonBinaryCodec codec = exampleCodec(256, 10);
  for (const float P0 : settings.P0s) measure(codec, settings, P0);
  return 0;
}
