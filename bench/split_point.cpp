// One long point on one thread and shared by two, on the default code: checks that both give
// the same counts, statistics and symbol error rate, and prints the times, the speed-up, the
// work that stays serial in the shared point (the owner's slice states, prefix sum and commit)
// and what that serial fraction projects for a point of volume 1e11 on many ranks.
//
//   split_point [--repeat R] [--threads N] [--message-us M] [--quick]
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
  double messageMicroseconds = 20;
  bool quick = false;
  int only = 0;  // 1 or 2: only the one-thread or the shared runs, for a profiler
  for (int k = 1; k < argc; ++k) {
    const std::string argument = argv[k];
    if (argument == "--repeat" && k + 1 < argc) {
      repeat = std::max(1, std::atoi(argv[++k]));
    } else if (argument == "--threads" && k + 1 < argc) {
      threads = std::max(2, std::atoi(argv[++k]));
    } else if (argument == "--message-us" && k + 1 < argc) {
      messageMicroseconds = std::atof(argv[++k]);
    } else if (argument == "--only" && k + 1 < argc) {
      only = std::atoi(argv[++k]);
    } else if (argument == "--quick") {
      quick = true;
    } else {
      std::fprintf(stderr,
                   "usage: split_point [--repeat R] [--threads N] [--message-us M] [--quick]\n");
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
    Timed best[2];
    for (std::int32_t r = 0; r < repeat; ++r) {
      // One thread, then several, in turn, so that both see the machine alike.
      for (int k = 0; k < 2; ++k) {
        if (only != 0 && only != k + 1) continue;
        Timed timed = simulate(codec, point, seed, k == 0 ? 1 : threads);
        if (r == 0 || timed.seconds < best[k].seconds) best[k] = timed;
      }
      identical = identical && best[0].result == best[1].result;
    }
    const PointCounters& counters = best[0].result.counters;
    const double serial = best[1].rounds.serialSeconds / best[0].seconds;
    std::printf(
        "\n%s: %lld blocks, %lld information symbols, %d block errors, %lld symbol "
        "errors; identical: %s\n",
        point.name, static_cast<long long>(counters.blocks),
        static_cast<long long>(counters.infoSymbols), counters.blockErrors,
        static_cast<long long>(counters.symbolErrors),
        best[0].result == best[1].result ? "yes" : "NO");
    std::printf(
        "  1 thread  %8.3f s (CPU %.3f s)\n  %d threads %8.3f s (CPU %.3f s)   speed-up "
        "%.2f, CPU of the threads against one %.3f\n",
        best[0].seconds, best[0].cpuSeconds, threads, best[1].seconds, best[1].cpuSeconds,
        best[0].seconds / best[1].seconds, best[1].cpuSeconds / best[0].cpuSeconds);
    std::printf("  tasks %lld, %lld of them on the helping threads\n",
                static_cast<long long>(best[1].rounds.tasks),
                static_cast<long long>(best[1].rounds.helperTasks));
    std::printf(
        "  shared rounds: %lld, serial work %.4f s of the rounds' %.3f s; serial "
        "fraction of the one-thread time f = %.5f\n",
        static_cast<long long>(best[1].rounds.rounds), best[1].rounds.serialSeconds,
        best[1].rounds.totalSeconds, serial);
    // The point at volume 1e11 on R ranks: the one-thread work scaled by volume; the serial
    // fraction as measured here (the owner's slice states, prefix sum and commit, all of which
    // the ranks could do but the prefix sum and the commit); and rank 0's messages: units of
    // 2^24 draws, four messages each (hand out, symbol count, offset back, result).
    const double scaleUp = 1e11 / static_cast<double>(counters.infoSymbols);
    const double work = best[0].seconds * scaleUp;
    const double draws = 1e11 * (codec.nk() + codec.nr()) / codec.nk() * (1 + point.P0);
    const double units = draws / 16777216.0;
    std::printf(
        "  serial work per round %.1f us; volume 1e11: %.0f s of work on one thread, "
        "%.0f units of 2^24 draws, %.0f us a message:\n",
        1e6 * best[1].rounds.serialSeconds /
            static_cast<double>(std::max<std::int64_t>(best[1].rounds.rounds, 1)),
        work, units, messageMicroseconds);
    for (const int ranks : {16, 64}) {
      const double time =
          work * (serial + (1 - serial) / ranks) + units * 4 * messageMicroseconds * 1e-6;
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
