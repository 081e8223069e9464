// One long point on one thread, shared by several, and in stretches as a simulating MPI rank
// works them, on the default code: checks that all give the same counts and statistics, and
// prints the times, the speed-up, what a stretch costs beyond its blocks, and what that projects
// for a point of volume 1e11 on 16 and 64 ranks.
//
//   split_point [--repeat R] [--threads N] [--stretch-draws D] [--stretch-us M] [--rank0-us Z]
//               [--quick] [--only 1|2|3]
//
// The two points: P0 = 0.02 with volume 200000000 and no block-error limit, and P0 = 0.1 with a
// minBlockErr that ends the point by block errors (the exact stop). --quick runs a tenth of each.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "code/code_file_reader.h"
#include "engine/fast_point_simulator.h"
#include "engine/scheduler.h"
#include "run/input_file.h"

namespace nbsim {
namespace {

struct Case {
  const char* name;
  float P0;
  PointLimits limits;
};

struct Timed {
  PointResult result;
  double seconds = 0;
  double cpuSeconds = 0;  // of every thread of the process
  FastPointSimulator::RoundTimes rounds;
};

double cpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto time = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + 1e-6 * static_cast<double>(t.tv_usec);
  };
  return time(usage.ru_utime) + time(usage.ru_stime);
}

double seconds(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The point on `threads` threads, each time with a fresh draw stream, as a run's first point.
Timed simulate(const NonBinaryCodec& codec, const Case& point, std::int32_t seed,
               std::int32_t threads) {
  DrawStreamCache cache(seed);
  Timed timed;
  const double cpu = cpuSeconds();
  const auto start = std::chrono::steady_clock::now();
  if (threads == 1) {
    FastPointSimulator simulator(codec, point.limits, cache);
    simulator.simulate(point.P0, timed.result);
  } else {
    std::vector<FastPointSimulator*> simulators;
    const SimulatorFactory make = [&] {
      auto simulator = std::make_unique<FastPointSimulator>(codec, point.limits, cache);
      simulators.push_back(simulator.get());
      return simulator;
    };
    RunParameters parameters;
    parameters.P0_first = parameters.P0_last = point.P0;
    parameters.P0_step = 1.0f;
    ThreadScheduler scheduler(SweepPoints(parameters), make, threads, {});
    if (scheduler.take(0, timed.result) != Scheduler::Take::point) std::exit(3);
    timed.seconds = seconds(start);
    timed.cpuSeconds = cpuSeconds() - cpu;
    for (const FastPointSimulator* simulator : simulators) {
      timed.rounds.rounds += simulator->roundTimes().rounds;
      timed.rounds.serialSeconds += simulator->roundTimes().serialSeconds;
      timed.rounds.totalSeconds += simulator->roundTimes().totalSeconds;
      timed.rounds.tasks += simulator->roundTimes().tasks;
      timed.rounds.helperTasks += simulator->roundTimes().helperTasks;
    }
    return timed;
  }
  timed.seconds = seconds(start);
  timed.cpuSeconds = cpuSeconds() - cpu;
  return timed;
}

// The point as a simulating rank works it: in stretches of `draws` draws, each made, parsed from
// both of its first draws and decoded, chained in order as rank 0 chains them; where the block
// errors end the point, the stretch is decoded again up to that block. The time over the plain
// point's is what a rank spends on a stretch beyond its blocks (all but the messages).
Timed inStretches(const NonBinaryCodec& codec, const Case& point, std::int32_t seed,
                  std::int64_t draws, std::int64_t& stretches) {
  DrawStreamCache cache(seed);
  FastPointSimulator simulator(codec, point.limits, cache);
  Timed timed;
  PointResult& result = timed.result;
  result.P0 = point.P0;
  result.stats.reset(codec.itert());
  const std::int64_t S = static_cast<std::int64_t>(codec.nk() + codec.nr()) * codec.blockLength();
  const std::int64_t perBlock = static_cast<std::int64_t>(codec.nk()) * codec.blockLength();
  const auto volume = static_cast<std::int64_t>(point.limits.volume);
  const std::int64_t blockLimit = (volume + perBlock - 1) / perBlock;
  const double cpu = cpuSeconds();
  const auto start = std::chrono::steady_clock::now();
  std::int64_t first = 0;  // where the next stretch's first symbol starts: its draw 0 or 1
  std::int64_t symbol = 0;
  FastPointSimulator::StretchBlocks blocks;
  for (stretches = 0; symbol < blockLimit * S; ++stretches) {
    const FastPointSimulator::StretchParse parse =
        simulator.makeStretch(point.P0, stretches * draws, draws);
    simulator.decodeStretch(static_cast<std::int32_t>(first), symbol, blockLimit, {}, blocks);
    const std::int64_t missing = point.limits.minBlockErr - result.counters.blockErrors;
    if (blocks.result.counters.blockErrors >= missing) {
      const std::int64_t last = blocks.wrongBlocks[static_cast<std::size_t>(missing - 1)].first;
      simulator.decodeStretch(static_cast<std::int32_t>(first), symbol,
                              (symbol + S - 1) / S + last + 1, {}, blocks);
    }
    result.counters.add(blocks.result.counters);
    result.stats.add(blocks.result.stats);
    if (result.counters.blockErrors >= point.limits.minBlockErr) {
      ++stretches;
      break;
    }
    symbol += parse.symbols[first];
    first = parse.next[first] - draws;
  }
  timed.seconds = seconds(start);
  timed.cpuSeconds = cpuSeconds() - cpu;
  return timed;
}

// The speed-up of `threads` threads on a loop that shares nothing: what the machine gives right
// now, to read the speed-ups above by (other work on the machine takes its share of the cores).
double machineSpeedUp(std::int32_t threads) {
  const auto spin = [] {
    std::uint64_t x = 1;
    for (int k = 0; k < 200000000; ++k) x = x * 6364136223846793005u + 1442695040888963407u;
    return x;
  };
  std::vector<std::uint64_t> sink(static_cast<std::size_t>(threads));
  auto start = std::chrono::steady_clock::now();
  for (std::int32_t t = 0; t < threads; ++t) sink[static_cast<std::size_t>(t)] = spin();
  const double alone = seconds(start);
  start = std::chrono::steady_clock::now();
  std::vector<std::thread> workers;
  for (std::int32_t t = 0; t < threads; ++t) {
    workers.emplace_back([&sink, &spin, t] { sink[static_cast<std::size_t>(t)] += spin(); });
  }
  for (std::thread& worker : workers) worker.join();
  const double together = seconds(start);
  if (sink[0] == 42) std::printf(" ");  // keeps the loops
  return alone / together;
}

int run(int argc, char** argv) {
  std::int32_t repeat = 3;
  std::int32_t threads = 2;
  // Measured by split_point_ranks.sh: a stretch's messages and waiting on a simulating rank,
  // and rank 0's processor time per stretch.
  double stretchMicroseconds = 100;
  double rankZeroMicroseconds = 20;
  std::int64_t stretchDraws = std::int64_t{1} << 21;
  bool quick = false;
  int only = 0;  // 1, 2 or 3: only the one-thread, shared or stretch runs, for a profiler
  for (int k = 1; k < argc; ++k) {
    const std::string argument = argv[k];
    if (argument == "--repeat" && k + 1 < argc) {
      repeat = std::max(1, std::atoi(argv[++k]));
    } else if (argument == "--threads" && k + 1 < argc) {
      threads = std::max(2, std::atoi(argv[++k]));
    } else if (argument == "--stretch-us" && k + 1 < argc) {
      stretchMicroseconds = std::atof(argv[++k]);
    } else if (argument == "--rank0-us" && k + 1 < argc) {
      rankZeroMicroseconds = std::atof(argv[++k]);
    } else if (argument == "--stretch-draws" && k + 1 < argc) {
      stretchDraws = std::max<std::int64_t>(1, std::atoll(argv[++k]));
    } else if (argument == "--only" && k + 1 < argc) {
      only = std::atoi(argv[++k]);
    } else if (argument == "--quick") {
      quick = true;
    } else {
      std::fprintf(stderr,
                   "usage: split_point [--repeat R] [--threads N] [--stretch-draws D] "
                   "[--stretch-us M] [--rank0-us Z] [--quick] [--only 1|2|3]\n");
      return 64;
    }
  }
  const std::string file = std::string(NBSIM_SOURCE_DIR) + "/examples/default/encoder.txt";
  const InputFile input = readInputFile(file, largestInputFile, nullptr);
  if (!input.bytes) return 2;
  const CodeFileResult read = parseCodeDescription(*input.bytes, "encoder.txt");
  if (!read.code) return 2;
  const NonBinaryCodec codec(*read.code, 256, 10);
  const std::int32_t seed = 12345;
  const std::uint64_t scale = quick ? 10 : 1;
  const Case cases[] = {
      {"P0=0.02, volume=2e8", 0.02f, {200000000 / scale, 2147483647}},
      {"P0=0.1, minBlockErr ends it",
       0.1f,
       {100000000000ULL, static_cast<std::int32_t>(2000 / scale)}},
  };
  std::printf("default code (L=%d), Q=256, itert=10, seed %d, %d threads, best of %d\n",
              codec.blockLength(), seed, threads, repeat);
  bool identical = true;
  for (const Case& point : cases) {
    Timed best[3];
    std::int64_t stretches = 0;
    for (std::int32_t r = 0; r < repeat; ++r) {
      // One thread, several, and one thread in stretches, in turn, so that all see the machine
      // alike.
      for (int k = 0; k < 3; ++k) {
        if (only != 0 && only != k + 1) continue;
        Timed timed = k == 2   ? inStretches(codec, point, seed, stretchDraws, stretches)
                      : k == 0 ? simulate(codec, point, seed, 1)
                               : simulate(codec, point, seed, threads);
        if (r == 0 || timed.seconds < best[k].seconds) best[k] = timed;
      }
    }
    const bool same = best[0].result == best[1].result &&
                      best[0].result.counters == best[2].result.counters &&
                      best[0].result.stats == best[2].result.stats;
    identical = identical && same;
    const PointCounters& counters = best[0].result.counters;
    std::printf(
        "\n%s: %lld blocks, %lld information symbols, %d block errors, %lld symbol "
        "errors; identical: %s\n",
        point.name, static_cast<long long>(counters.blocks),
        static_cast<long long>(counters.infoSymbols), counters.blockErrors,
        static_cast<long long>(counters.symbolErrors), same ? "yes" : "NO");
    std::printf(
        "  1 thread  %8.3f s (CPU %.3f s)\n  %d threads %8.3f s (CPU %.3f s)   speed-up "
        "%.2f, CPU of the threads against one %.3f\n",
        best[0].seconds, best[0].cpuSeconds, threads, best[1].seconds, best[1].cpuSeconds,
        best[0].seconds / best[1].seconds, best[1].cpuSeconds / best[0].cpuSeconds);
    std::printf("  stretches %lld, %lld of them on the helping threads; phases %lld\n",
                static_cast<long long>(best[1].rounds.tasks),
                static_cast<long long>(best[1].rounds.helperTasks),
                static_cast<long long>(best[1].rounds.rounds));
    // What a rank spends on a stretch beyond its blocks, without the messages.
    const double perStretch = (best[2].cpuSeconds - best[0].cpuSeconds) /
                              static_cast<double>(std::max<std::int64_t>(stretches, 1));
    std::printf(
        "  1 thread in %lld stretches of %lld draws, as a rank works them: %.3f s (CPU %.3f "
        "s), %.1f us a stretch beyond its blocks (%.1f %%)\n",
        static_cast<long long>(stretches), static_cast<long long>(stretchDraws), best[2].seconds,
        best[2].cpuSeconds, 1e6 * perStretch, 100 * (best[2].cpuSeconds / best[0].cpuSeconds - 1));
    // The point at volume 1e11 on R ranks: rank 0 only hands out, chains and commits the
    // stretches (rankZeroMicroseconds each, the work that stays serial); the R - 1 others do the
    // one-thread work, plus per stretch what it costs them beyond its blocks and the waiting for
    // its start and its messages (stretchMicroseconds). Both measured by split_point_ranks.sh.
    const double scaleUp = 1e11 / static_cast<double>(counters.infoSymbols);
    const double work = best[0].cpuSeconds * scaleUp;
    const double units = static_cast<double>(stretches) * scaleUp;
    std::printf(
        "  volume 1e11: %.0f s of work on one thread, %.0f stretches; rank 0 %.1f us and the "
        "messages and waiting %.1f us a stretch:\n",
        work, units, rankZeroMicroseconds, stretchMicroseconds);
    for (const int ranks : {16, 64}) {
      const double time =
          std::max((work + units * (perStretch + 1e-6 * stretchMicroseconds)) / (ranks - 1),
                   units * 1e-6 * rankZeroMicroseconds);
      std::printf("    %2d ranks: %.1f s, efficiency %.1f %%\n", ranks, time,
                  100 * work / (ranks * time));
    }
  }
  std::printf(
      "\na loop that shares nothing runs %.2f times faster on %d threads than on one on "
      "this machine right now\n",
      machineSpeedUp(threads), threads);
  std::printf("%s\n", identical ? "all results identical" : "RESULTS DIFFER");
  return identical ? 0 : 1;
}

}  // namespace
}  // namespace nbsim

int main(int argc, char** argv) { return nbsim::run(argc, argv); }
