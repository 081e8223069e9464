// The fast path against the plain reference path: identical counts (the blocks' sums of squared
// errors too) and statistics on random points with every decoder variant this machine runs,
// identical reports on random sweeps, whatever the number of threads.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <sstream>
#include <string>

#include "bench/random_points.h"
#include "engine/sweep.h"
#include "output/console_writer.h"
#include "output/report_writer.h"

namespace nbsim {
namespace {

using testing::RandomPoint;

TEST(FastPath, GivesTheReferenceCountsOnRandomPoints) {
  constexpr std::uint64_t seed = 20261207;
  std::mt19937_64 random(seed);
  int spread = 0;  // points whose wrong blocks held more than one wrong symbol
  for (int n = 0; n < 400; ++n) {
    const RandomPoint point = testing::randomPoint(random);
    SCOPED_TRACE("case " + std::to_string(n) + " of seed " + std::to_string(seed) + ": " +
                 point.describe());
    const PointResult reference = testing::referencePoint(point);
    for (const DecoderVariant variant : availableDecoderVariants()) {
      SCOPED_TRACE(decoderVariantName(variant));
      const PointResult fast = testing::fastPoint(point, variant);
      ASSERT_EQ(fast.counters, reference.counters);
      ASSERT_EQ(fast.stats, reference.stats);
      ASSERT_EQ(fast.ser, reference.ser);
    }
    spread += reference.counters.squaredSymbolErrors > reference.counters.symbolErrors;
  }
  // The sums of squares, compared with the other counters, are more than the error counts.
  EXPECT_GT(spread, 100);
}

}  // namespace
}  // namespace nbsim

namespace nbsim {
namespace {

struct SweepBytes {
  std::string report;
  std::string console;
  SweepOutcome outcome = SweepOutcome::completed;
};

// The sweep's report blocks and console lines.
SweepBytes sweep(const testing::RandomPoint& point, const RunParameters& parameters,
                 const SweepOptions& options) {
  const NonBinaryCodec codec(point.code, parameters.Q, parameters.itert);
  std::ostringstream bytes;
  std::ostringstream console;
  ReportWriter report(bytes);
  ConsoleWriter consoleLines(console, console);
  RunListeners outputs;
  outputs.add(report);
  outputs.add(consoleLines);
  SweepBytes result;
  result.outcome = sweepErrorProbability(
      codec, parameters, point.seed, options,
      [&outputs](const PointResult& result) { return outputs.point(result); });
  result.report = bytes.str();
  result.console = console.str();
  return result;
}

TEST(FastPath, GivesTheReferenceReportOnRandomSweepsWithAnyNumberOfThreads) {
  constexpr std::uint64_t seed = 61;
  std::mt19937_64 random(seed);
  for (int n = 0; n < 12; ++n) {
    const testing::RandomPoint point = testing::randomPoint(random);
    RunParameters parameters = point.parameters;
    parameters.P0_first = 0.3f;
    parameters.P0_last = 0.0f;
    parameters.P0_step = 0.0125f;
    SCOPED_TRACE("sweep " + std::to_string(n) + " of seed " + std::to_string(seed) + ": " +
                 point.describe());
    SweepOptions plain;
    plain.fast = false;
    const SweepBytes reference = sweep(point, parameters, plain);
    for (const std::int32_t threads : {1, 2, 4}) {
      SweepOptions fast;
      fast.threads = threads;
      fast.chunkSize = point.chunkSize;
      fast.chunkCount = point.chunkCount;
      const SweepBytes other = sweep(point, parameters, fast);
      EXPECT_EQ(other.outcome, SweepOutcome::completed);
      ASSERT_EQ(other.report, reference.report) << threads << " threads";
      ASSERT_EQ(other.console, reference.console) << threads << " threads";
    }
  }
}

}  // namespace
}  // namespace nbsim
