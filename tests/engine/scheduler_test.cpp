// The threaded scheduler when the system falls short: threads that cannot be started, and a
// simulator that throws on a worker.
#include "engine/scheduler.h"

#include <gtest/gtest.h>

#include <chrono>
#include <new>
#include <random>
#include <system_error>
#include <thread>
#include <vector>

#include "bench/random_points.h"
#include "engine/sweep.h"

namespace nbsim {
namespace {

// Every point of the sweep in order, as `scheduler` hands them over.
std::vector<PointResult> takeAll(Scheduler& scheduler) {
  std::vector<PointResult> points;
  sweepErrorProbability(scheduler, [&points](const PointResult& point) {
    points.push_back(point);
    return true;
  });
  return points;
}

// Starts the first `allowed` threads, then fails as a system out of threads does.
ThreadStarter startingOnly(std::int32_t allowed) {
  return [allowed, started = 0](std::function<void()> work) mutable {
    if (started == allowed)
      throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    ++started;
    return std::thread(std::move(work));
  };
}

TEST(ThreadScheduler, RunsOnTheThreadsItCanStartOrOnTheCallerWithTheSameResults) {
  std::mt19937_64 random(7);
  const testing::RandomPoint point = testing::randomPoint(random);
  RunParameters parameters = point.parameters;
  parameters.P0_first = 0.25f;
  parameters.P0_last = 0.0625f;
  parameters.P0_step = 0.03125f;
  const NonBinaryCodec codec(point.code, parameters.Q, parameters.itert);
  PointSimulators simulators(codec, parameters, point.seed, SweepOptions{});
  const SimulatorFactory make = [&simulators] { return simulators.make(); };
  const SweepPoints points(parameters);
  SerialScheduler serial(points, make, StopRequest{});
  const std::vector<PointResult> expected = takeAll(serial);
  ASSERT_EQ(expected.size(), 7u);
  for (const std::int32_t allowed : {0, 1, 2}) {
    ThreadScheduler threaded(points, make, 3, StopRequest{}, nullptr, 0, startingOnly(allowed));
    EXPECT_EQ(threaded.workers(), allowed);
    EXPECT_EQ(takeAll(threaded), expected) << allowed << " threads started";
  }
}

// Gives each point its P0 and one block per point before it; throws at P0 = `failing`, and at
// points after it waits for the stop (up to ten seconds) and gives up.
class FailingSimulator : public PointSimulator {
 public:
  explicit FailingSimulator(float failing) : failing_(failing) {}

  using PointSimulator::simulate;
  bool simulate(float P0, PointResult& result, const StopRequest& stop, PointProgress*,
                const PointState*) override {
    if (P0 == failing_) throw std::bad_alloc();
    if (P0 < failing_) {
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
      while (!stop.raised() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      return false;
    }
    result = PointResult{};
    result.P0 = P0;
    return true;
  }

 private:
  float failing_;
};

TEST(ThreadScheduler, HandsOverThePointsBeforeAThrowingOneThenRethrowsOnTheCaller) {
  RunParameters parameters;
  parameters.P0_first = 0.5f;
  parameters.P0_last = 0.0f;
  parameters.P0_step = 0.0625f;  // exact steps: 0.5, 0.4375, ..., 0
  const float failing = 0.25f;   // the fifth point
  const SimulatorFactory make = [failing] { return std::make_unique<FailingSimulator>(failing); };
  for (const std::int32_t threads : {1, 2, 4}) {
    SCOPED_TRACE(std::to_string(threads) + " threads");
    const auto begin = std::chrono::steady_clock::now();
    ThreadScheduler scheduler(SweepPoints(parameters), make, threads, StopRequest{});
    std::vector<float> handedOver;
    EXPECT_THROW(sweepErrorProbability(scheduler,
                                       [&handedOver](const PointResult& point) {
                                         handedOver.push_back(point.P0);
                                         return true;
                                       }),
                 std::bad_alloc);
    EXPECT_EQ(handedOver, (std::vector<float>{0.5f, 0.4375f, 0.375f, 0.3125f}));
    // The workers busy with later points were stopped, not waited for.
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(5));
  }
}

}  // namespace
}  // namespace nbsim
