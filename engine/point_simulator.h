// The engine turns P0 points into counts. This header is its seam: the point simulator
// interface, with the plain reference path (reference_point_simulator.h) and the fast path
// (fast_point_simulator.h) behind it, and the one block loop that owns a point's stopping rule.
// Scheduling the points over threads (scheduler.h) and the order of the sweep (sweep.h) sit on
// top of it.
//
// The engine uses the domain (code/, channel/) and nothing else of the program: it knows no
// output and no file; results leave it as PointResult values.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>

#include "code/decode_stop.h"
#include "engine/point_progress.h"
#include "engine/point_result.h"

namespace nbsim {

// When a point stops: after `minBlockErr` block errors or `volume` information symbols.
struct PointLimits {
  std::uint64_t volume = 1000000;
  std::int32_t minBlockErr = 100;
};

// Raised to end a sweep early, by the sweep itself or by a signal (a non-zero signal number);
// checked before every block, and by the decoders within a block where blocks are slow.
struct StopRequest {
  const std::atomic<bool>* sweep = nullptr;
  const std::atomic<int>* interrupt = nullptr;

  // The same flags, as the decoders take them.
  DecodeStop forDecoder() const { return {sweep, interrupt}; }
  bool raised() const { return forDecoder().raised(); }
};

// Simulates whole P0 points. Each thread owns one.
class PointSimulator {
 public:
  virtual ~PointSimulator() = default;

  // Simulates blocks at P0 until the limits hold and fills `result`; false when `stop` was
  // raised first (the result is then incomplete). Publishes the counts after every block to
  // `progress`, when given, and keeps the point's state there between blocks when it asks for
  // it and when the stop ends the point. `from`, when given, is where an interrupted point stood
  // (not done): the point goes on from its counts and its next draw.
  virtual bool simulate(float P0, PointResult& result, const StopRequest& stop = {},
                        PointProgress* progress = nullptr, const PointState* from = nullptr) = 0;

  // The whole point at P0, without a stop request.
  PointResult simulate(float P0) {
    PointResult result;
    simulate(P0, result);
    return result;
  }
};

// The block loop of every point simulator, from the counts already in `result` (zero for a new
// point): `simulateBlock(stats)` simulates the point's next block, adds it to `result.stats` and
// returns its wrongly decoded information symbols, or a negative number when it gave the block up
// on the stop request (the block is not counted); `nextDraw()` is where the next block starts in
// the channel's stream. The volume test stands before each block and the block-error test after
// it, so a point always ends on a block boundary; minBlockErr of 0 or less simulates no block.
// Besides the counts it sums the squares of the blocks' wrong symbols, for the spread between
// blocks. The symbol error rate counts at least one error, so that it is never 0; the counter
// stays true. False when `stop` was raised before a block (the state then goes to `progress`), a
// block was given up, or `progress` asked for the point to be handed over (at the state it kept).
template <typename SimulateBlock, typename NextDraw>
bool runBlocks(const PointLimits& limits, std::int64_t symbolsPerBlock, PointResult& result,
               const StopRequest& stop, PointProgress* progress, SimulateBlock&& simulateBlock,
               NextDraw&& nextDraw) {
  PointCounters& counters = result.counters;
  const auto volume = static_cast<std::int64_t>(limits.volume);
  while (limits.minBlockErr > 0 && counters.infoSymbols < volume &&
         counters.blockErrors < limits.minBlockErr) {
    if (progress && progress->stateWanted()) {
      progress->keepState(result, nextDraw());
      if (progress->handingOver()) return false;
    }
    if (stop.raised()) {
      if (progress) progress->keepState(result, nextDraw());
      return false;
    }
    const std::int64_t wrong = simulateBlock(result.stats);
    if (wrong < 0) return false;
    counters.infoSymbols += symbolsPerBlock;
    counters.symbolErrors += wrong;
    counters.squaredSymbolErrors += wrong * wrong;
    if (wrong > 0) ++counters.blockErrors;
    ++counters.blocks;
    if (progress) progress->publish(counters);
  }
  result.ser = symbolErrorRate(counters);
  return true;
}

}  // namespace nbsim
