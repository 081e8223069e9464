// One point shared by several threads, in tiny stretches: the counts, the statistics and the
// symbol error rate of the point on one thread, wherever the stopping rule falls, also where no
// draw of a stretch lies above the corruption bound (P0 of 1), for L = 1, and from the state of a
// point cut after any block; and in stretches parsed apart, as the ranks of a cluster share it.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <optional>
#include <random>
#include <string>
#include <thread>

#include "bench/random_points.h"
#include "engine/scheduler.h"
#include "tests/engine/resume_point.h"

namespace nbsim {
namespace {

// The point of `point` shared by `threads` threads (1: the owner alone, in stretches), from `from`
// when given.
PointResult sharedPoint(const testing::RandomPoint& point, const PointSplit& split,
                        std::int32_t threads, const PointState* from) {
  const NonBinaryCodec codec(point.code, point.parameters.Q, point.parameters.itert);
  const PointLimits limits{point.parameters.volume, point.parameters.minBlockErr};
  DrawStreamCache cache(point.seed, point.chunkSize, point.chunkCount);
  PointResult result;
  if (threads == 1) {
    FastPointSimulator simulator(codec, limits, cache, chosenDecoderVariant(), split);
    PointShare share;
    EXPECT_TRUE(simulator.simulateShared(share, point.P0, result, {}, nullptr, from));
    share.close();
    return result;
  }
  RunParameters parameters = point.parameters;
  parameters.P0_first = parameters.P0_last = point.P0;
  const SimulatorFactory make = [&] {
    return std::make_unique<FastPointSimulator>(codec, limits, cache, chosenDecoderVariant(),
                                                split);
  };
  const ResumePoints resume = from ? ResumePoints{{0, *from}} : ResumePoints{};
  SweepPoints points(parameters);
  points.resumeFrom(&resume);
  ThreadScheduler scheduler(points, make, threads, {});
  EXPECT_EQ(scheduler.take(0, result), Scheduler::Take::point);
  return result;
}

TEST(SplitPoint, GivesTheCountsOfOneThreadOnRandomPointsInTinyStretches) {
  constexpr std::uint64_t seed = 18;
  // Fewer under ThreadSanitizer, which runs these threads many times slower.
#if defined(__SANITIZE_THREAD__)
  constexpr int cases = 50;
#else
  constexpr int cases = 150;
#endif
  std::mt19937_64 random(seed);
  for (int n = 0; n < cases; ++n) {
    const testing::RandomPoint point = testing::randomPoint(random);
    const PointResult alone = testing::fastPoint(point);
    PointSplit split;
    split.sliceDraws = 1 + static_cast<std::int64_t>(random() % 100);
    split.roundSlices = 1 + static_cast<std::int64_t>(random() % 10);
    split.fromFirstBlock = random() % 4 != 0;
    static constexpr std::int32_t threadCounts[] = {1, 2, 4};
    const std::int32_t threads = threadCounts[random() % 3];
    SCOPED_TRACE("case " + std::to_string(n) + " of seed " + std::to_string(seed) + " on " +
                 std::to_string(threads) + " threads, stretches of " +
                 std::to_string(split.sliceDraws) + " draws, " + std::to_string(split.roundSlices) +
                 " a phase: " + point.describe());
    // Now and then from the state after some block, as an interrupted run leaves it.
    std::optional<PointState> from;
    if (random() % 3 == 0) {
      const NonBinaryCodec codec(point.code, point.parameters.Q, point.parameters.itert);
      from = testing::stateAfter(
          point, codec,
          static_cast<std::int64_t>(random() %
                                    static_cast<std::uint64_t>(alone.counters.blocks + 1)));
    }
    const PointResult shared = sharedPoint(point, split, threads, from ? &*from : nullptr);
    ASSERT_EQ(shared.counters, alone.counters);
    ASSERT_EQ(shared.stats, alone.stats);
    ASSERT_EQ(shared.ser, alone.ser);
  }
}

// Slots that keep the states of the points that the stop cuts.
class KeepingWatcher : public SweepWatcher {
 public:
  PointProgress& slot(std::int32_t worker) override {
    return slots_[static_cast<std::size_t>(worker)];
  }
  void startPoint(PointProgress& slot, std::int64_t index, float P0) override {
    slot.start(index, P0, 0);
  }
  std::optional<PointState> kept() const {
    for (const PointProgress& slot : slots_) {
      if (const auto state = slot.keptState()) return state->second;
    }
    return std::nullopt;
  }

 private:
  std::array<PointProgress, 4> slots_;
};

// A shared point stopped at any moment keeps a state between two committed blocks, and goes on
// from it to the counts of one thread alone.
TEST(SplitPoint, StopsAnywhereAndGoesOnFromTheStateItKept) {
  std::mt19937_64 random(1812);
  for (int n = 0; n < 24; ++n) {
    testing::RandomPoint point = testing::randomPoint(random);
    point.parameters.volume *= 100;
    const PointResult alone = testing::fastPoint(point);
    const NonBinaryCodec codec(point.code, point.parameters.Q, point.parameters.itert);
    const PointLimits limits{point.parameters.volume, point.parameters.minBlockErr};
    DrawStreamCache cache(point.seed, point.chunkSize, point.chunkCount);
    PointSplit split;
    split.sliceDraws = 1 + static_cast<std::int64_t>(random() % 300);
    split.fromFirstBlock = true;
    const SimulatorFactory make = [&] {
      return std::make_unique<FastPointSimulator>(codec, limits, cache, chosenDecoderVariant(),
                                                  split);
    };
    RunParameters parameters = point.parameters;
    parameters.P0_first = parameters.P0_last = point.P0;
    std::atomic<int> interrupt{0};
    KeepingWatcher watcher;
    PointResult result;
    Scheduler::Take take = Scheduler::Take::end;
    {
      ThreadScheduler scheduler(SweepPoints(parameters), make, 2, {nullptr, &interrupt}, &watcher);
      std::thread stopper([&interrupt, delay = random() % 1500] {
        std::this_thread::sleep_for(std::chrono::microseconds(delay));
        interrupt.store(15);
      });
      take = scheduler.take(0, result);
      stopper.join();
    }
    SCOPED_TRACE("case " + std::to_string(n) + ": " + point.describe());
    if (take == Scheduler::Take::stopped) {
      // No state when the stop came before the point began: it then goes from its start.
      const std::optional<PointState> state = watcher.kept();
      FastPointSimulator simulator(codec, limits, cache);
      result = PointResult{};
      ASSERT_TRUE(simulator.simulate(point.P0, result, {}, nullptr, state ? &*state : nullptr));
    }
    ASSERT_EQ(result.counters, alone.counters);
    ASSERT_EQ(result.stats, alone.stats);
    ASSERT_EQ(result.ser, alone.ser);
  }
}

// A point as the ranks of a cluster share it: stretches of random sizes, each parsed on its own
// from its first draw and the one after, chained in order to find where each one's first symbol
// starts, then decoded. Without a block-error limit, their blocks together are the point's.
TEST(SplitPoint, StretchesParsedApartAndChainedGiveThePointsBlocks) {
  std::mt19937_64 random(31);
  for (int n = 0; n < 150; ++n) {
    testing::RandomPoint point = testing::randomPoint(random);
    point.parameters.minBlockErr = 1 << 30;
    const PointResult alone = testing::fastPoint(point);
    const NonBinaryCodec codec(point.code, point.parameters.Q, point.parameters.itert);
    DrawStreamCache cache(point.seed, point.chunkSize, point.chunkCount);
    FastPointSimulator simulator(codec, {point.parameters.volume, point.parameters.minBlockErr},
                                 cache);
    const std::int64_t S = static_cast<std::int64_t>(codec.nk() + codec.nr()) * codec.blockLength();
    const std::int64_t blockLimit = (static_cast<std::int64_t>(point.parameters.volume) +
                                     codec.nk() * codec.blockLength() - 1) /
                                    (codec.nk() * codec.blockLength());
    const std::int64_t draws = 1 + static_cast<std::int64_t>(random() % 3000);
    SCOPED_TRACE("case " + std::to_string(n) + ", stretches of " + std::to_string(draws) +
                 " draws: " + point.describe());
    PointResult shared;
    shared.stats.reset(codec.itert());
    std::int64_t start = 0;
    std::int64_t symbol = 0;
    FastPointSimulator::StretchBlocks blocks;
    for (std::int64_t stretch = 0; symbol < blockLimit * S; ++stretch) {
      const FastPointSimulator::StretchParse parse =
          simulator.makeStretch(point.P0, stretch * draws, draws);
      simulator.decodeStretch(static_cast<std::int32_t>(start), symbol, blockLimit, {}, blocks);
      shared.counters.add(blocks.result.counters);
      shared.stats.add(blocks.result.stats);
      symbol += parse.symbols[start];
      start = parse.next[start] - draws;
      ASSERT_TRUE(start == 0 || start == 1);
    }
    ASSERT_EQ(shared.counters, alone.counters);
    ASSERT_EQ(shared.stats, alone.stats);
  }
}

}  // namespace
}  // namespace nbsim
