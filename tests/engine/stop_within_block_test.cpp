// An interrupt ends a sweep within a block, also where a single block takes many seconds.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <random>
#include <thread>

#include "engine/sweep.h"

namespace nbsim {
namespace {

// One polynomial of 2100 taps below 1000 (L = 1999): a block at P0 = 0.1 takes seconds on either
// path.
CodeDescription heavyCode() {
  std::mt19937 random(5);
  CodeDescription code;
  code.nk = 1;
  code.nr = 1;
  for (int n = 0; n < 2100; ++n) {
    code.polynomials[0][0].taps.push_back(static_cast<std::int32_t>(random() % 1000));
  }
  return code;
}

TEST(Interrupt, EndsASweepOfSlowBlocksWithoutWaitingForTheBlock) {
  const NonBinaryCodec codec(heavyCode(), 256, 10);
  RunParameters parameters;
  parameters.P0_first = 0.1f;
  parameters.P0_last = 0.1f;
  for (const auto& [fast, threads] :
       {std::pair{true, 1}, std::pair{true, 2}, std::pair{false, 1}}) {
    SCOPED_TRACE(std::string(fast ? "fast path, " : "reference path, ") + std::to_string(threads) +
                 " threads");
    std::atomic<int> interrupt{0};
    SweepOptions options;
    options.fast = fast;
    options.threads = threads;
    options.interrupt = &interrupt;
    const auto begin = std::chrono::steady_clock::now();
    std::thread signal([&interrupt] {
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      interrupt.store(2);
    });
    int delivered = 0;
    const SweepOutcome outcome =
        sweepErrorProbability(codec, parameters, 1, options, [&delivered](const PointResult&) {
          ++delivered;
          return true;
        });
    const auto took = std::chrono::steady_clock::now() - begin;
    signal.join();
    EXPECT_EQ(outcome, SweepOutcome::interrupted);
    EXPECT_EQ(delivered, 0);
    EXPECT_LT(took, std::chrono::seconds(2));
  }
}

}  // namespace
}  // namespace nbsim
