// Runs a whole sweep, given as a folder holding param.txt and encoder.txt, through the plain
// reference path and through the fast path in one process, checks that every point's counts and
// statistics are identical, and prints both times and their ratio: the fast path on one thread
// and on every core. The fast path aims to be at least 30 times faster than the reference on
// one thread for examples/default.
//
//   fast_path_comparison [folder] [--second S] [--threads N] [--points] [--repeat R]
//   fast_path_comparison [folder] [--second S] --fast-point P0 [--repeat R]
//   fast_path_comparison [folder] [--second S] --fast-only [--repeat R]
//
// The run seed is drawn from clock second S (default 0) as the program does; --points prints
// the nanoseconds per information symbol of every point on both paths; --repeat runs each path
// R times in turn (default 1) and keeps the fastest run of each, as a machine shared with other
// work slows a run down now and then but never speeds one up. --fast-point runs the one point
// P0 on the fast path alone, R times over one draw stream, and prints its blocks, for counting
// instructions per block under callgrind: the difference between R = 2 and R = 1 is a point
// whose draw stream is already made, as it is for most points of a sweep. --fast-only times the
// whole sweep on the fast path alone, on one thread, without the reference's minutes: for
// comparing two builds of it side by side.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "code/code_file_reader.h"
#include "code/error_pattern_decoder.h"
#include "engine/fast_point_simulator.h"
#include "engine/reference_point_simulator.h"
#include "engine/source_generator.h"
#include "engine/sweep.h"
#include "engine/sweep_points.h"
#include "run/input_file.h"
#include "run/parameter_file.h"

namespace nbsim {
namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

struct Timed {
  std::vector<PointResult> points;
  std::vector<double> seconds;  // per point; empty for the parallel run
  double total = 0.0;
};

// The parameters and the code of `folder`; nothing, with the reason on standard error, when
// they cannot be read.
std::optional<std::pair<RunParameters, CodeDescription>> readInputs(const std::string& folder) {
  const auto fail = [](const std::string& why) {
    std::fprintf(stderr, "%s\n", why.c_str());
    return std::nullopt;
  };
  const InputFile parameterFile = readInputFile(folder + "/param.txt", largestInputFile, nullptr);
  if (!parameterFile.bytes) return fail(parameterFile.error);
  const ParameterFileResult read = readParameterText(*parameterFile.bytes, "param.txt");
  if (!read.parameters) return fail(read.error);
  const InputFile codeFile = readInputFile(folder + "/encoder.txt", largestInputFile, nullptr);
  if (!codeFile.bytes) return fail(codeFile.error);
  const CodeFileResult code = parseCodeDescription(*codeFile.bytes, "encoder.txt");
  if (!code.code) return fail(code.error);
  return std::pair{*read.parameters, *code.code};
}

// Every point of the sweep with `simulator`, timed one by one.
Timed timePoints(const RunParameters& parameters, PointSimulator& simulator,
                 Clock::time_point start) {
  Timed timed;
  SweepPoints points(parameters);
  float P0 = 0.0f;
  while (points.next(P0)) {
    const auto pointStart = Clock::now();
    timed.points.push_back(simulator.simulate(P0));
    timed.seconds.push_back(secondsSince(pointStart));
  }
  timed.total = secondsSince(start);
  return timed;
}

void printFigures(const Timed& reference, const Timed& single, const Timed& parallel,
                  std::int32_t seed, std::int64_t second, std::int32_t threads, bool perPoint,
                  std::int32_t repeat) {
  std::int64_t infoSymbols = 0;
  for (const PointResult& point : reference.points) infoSymbols += point.counters.infoSymbols;
  if (perPoint) {
    std::printf("%10s %14s %14s %14s\n", "P0", "info symbols", "reference ns", "fast ns");
    for (std::size_t k = 0; k < reference.points.size(); ++k) {
      const double symbols = static_cast<double>(reference.points[k].counters.infoSymbols);
      std::printf("%10.4f %14lld %14.1f %14.2f\n", static_cast<double>(reference.points[k].P0),
                  static_cast<long long>(reference.points[k].counters.infoSymbols),
                  reference.seconds[k] * 1e9 / symbols, single.seconds[k] * 1e9 / symbols);
    }
  }
  std::printf(
      "points: %zu, information symbols: %lld, run seed %d (clock second %lld), best of %d\n",
      reference.points.size(), static_cast<long long>(infoSymbols), seed,
      static_cast<long long>(second), repeat);
  std::printf("reference path, 1 thread:  %8.3f s\n", reference.total);
  std::printf("fast path, 1 thread:       %8.3f s  (%.1f times faster)\n", single.total,
              reference.total / single.total);
  std::printf("fast path, %d threads:      %8.3f s  (%.1f times faster; %u cores)\n", threads,
              parallel.total, reference.total / parallel.total,
              std::thread::hardware_concurrency());
}

int fastPoint(const std::string& folder, std::int64_t second, float P0, std::int32_t repeat) {
  const auto inputs = readInputs(folder);
  if (!inputs) return 2;
  const RunParameters& parameters = inputs->first;
  const NonBinaryCodec codec(inputs->second, parameters.Q, parameters.itert);
  if (!ErrorPatternDecoder::supports(codec)) {
    std::fprintf(stderr, "the fast path does not cover this code\n");
    return 2;
  }
  SourceGenerator seeder;
  seeder.seed(static_cast<std::uint32_t>(second));
  DrawStreamCache cache(seeder.draw());
  FastPointSimulator simulator(codec, {parameters.volume, parameters.minBlockErr}, cache);
  PointResult point;
  for (std::int32_t round = 0; round < repeat; ++round) point = simulator.simulate(P0);
  std::printf("P0 %g: %lld blocks, %d block errors, %lld information symbols\n",
              static_cast<double>(P0), static_cast<long long>(point.counters.blocks),
              point.counters.blockErrors, static_cast<long long>(point.counters.infoSymbols));
  return 0;
}

int compare(const std::string& folder, std::int64_t second, std::int32_t threads, bool perPoint,
            std::int32_t repeat, bool fastOnly) {
  const auto inputs = readInputs(folder);
  if (!inputs) return 2;
  const RunParameters& parameters = inputs->first;
  const NonBinaryCodec codec(inputs->second, parameters.Q, parameters.itert);
  if (!ErrorPatternDecoder::supports(codec)) {
    std::fprintf(stderr, "the fast path does not cover this code\n");
    return 2;
  }
  SourceGenerator seeder;
  seeder.seed(static_cast<std::uint32_t>(second));
  const std::int32_t seed = seeder.draw();
  const PointLimits limits{parameters.volume, parameters.minBlockErr};

  const auto runReference = [&] {
    const auto start = Clock::now();
    ReferencePointSimulator simulator(codec, limits, seed);
    return timePoints(parameters, simulator, start);
  };
  const auto runSingle = [&] {
    // The shared draw stream is made within the time, as a run makes it.
    const auto start = Clock::now();
    DrawStreamCache cache(seed);
    FastPointSimulator simulator(codec, limits, cache);
    return timePoints(parameters, simulator, start);
  };
  const auto runParallel = [&] {
    Timed timed;
    const auto start = Clock::now();
    SweepOptions options;
    options.threads = threads;
    sweepErrorProbability(codec, parameters, seed, options, [&](const PointResult& point) {
      timed.points.push_back(point);
      return true;
    });
    timed.total = secondsSince(start);
    return timed;
  };

  if (fastOnly) {
    Timed single = runSingle();
    for (std::int32_t round = 1; round < repeat; ++round) {
      Timed run = runSingle();
      if (run.points != single.points) {
        std::printf("counts and statistics: DIFFERENT between rounds\n");
        return 1;
      }
      if (run.total < single.total) single = std::move(run);
    }
    std::printf("fast path, 1 thread: %8.3f s (best of %d)\n", single.total, repeat);
    return 0;
  }
  // Every run must give the first reference run's counts; the fastest of each path is kept.
  Timed reference = runReference();
  Timed single = runSingle();
  Timed parallel = runParallel();
  bool same = reference.points == single.points && reference.points == parallel.points;
  for (std::int32_t round = 1; round < repeat; ++round) {
    const auto keepFaster = [&](Timed run, Timed& best) {
      same = same && run.points == reference.points;
      if (run.total < best.total) best = std::move(run);
    };
    keepFaster(runReference(), reference);
    keepFaster(runSingle(), single);
    keepFaster(runParallel(), parallel);
  }
  printFigures(reference, single, parallel, seed, second, threads, perPoint, repeat);
  std::printf("counts and statistics: %s\n", same ? "identical" : "DIFFERENT");
  return same ? 0 : 1;
}

}  // namespace
}  // namespace nbsim

int main(int argc, char** argv) {
  std::string folder = std::string(NBSIM_SOURCE_DIR) + "/examples/default";
  std::int64_t second = 0;
  auto threads = static_cast<std::int32_t>(std::max(1u, std::thread::hardware_concurrency()));
  bool perPoint = false;
  bool fastOnly = false;
  std::int32_t repeat = 1;
  float fastPointP0 = -1.0f;
  for (int k = 1; k < argc; ++k) {
    if (std::strcmp(argv[k], "--second") == 0 && k + 1 < argc) {
      second = std::atoll(argv[++k]);
    } else if (std::strcmp(argv[k], "--threads") == 0 && k + 1 < argc) {
      threads = std::max(1, std::atoi(argv[++k]));
    } else if (std::strcmp(argv[k], "--fast-point") == 0 && k + 1 < argc) {
      fastPointP0 = std::strtof(argv[++k], nullptr);
    } else if (std::strcmp(argv[k], "--fast-only") == 0) {
      fastOnly = true;
    } else if (std::strcmp(argv[k], "--points") == 0) {
      perPoint = true;
    } else if (std::strcmp(argv[k], "--repeat") == 0 && k + 1 < argc) {
      repeat = std::max(1, std::atoi(argv[++k]));
    } else {
      folder = argv[k];
    }
  }
  if (fastPointP0 >= 0.0f) return nbsim::fastPoint(folder, second, fastPointP0, repeat);
  return nbsim::compare(folder, second, threads, perPoint, repeat, fastOnly);
}
