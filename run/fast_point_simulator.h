// One P0 point on the fast path: the error patterns of the shared draw stream decoded by the
// error-pattern decoder, block after block by the same rules as RunSequence::simulatePoint, with
// the same counts. Each thread owns one.
#pragma once

#include <atomic>

#include "channel/draw_stream.h"
#include "channel/error_pattern_source.h"
#include "code/error_pattern_decoder.h"
#include "code/nonbinary_codec.h"
#include "run/point_progress.h"
#include "run/point_result.h"
#include "run/run_parameters.h"

namespace nbsim {

// Raised to end a sweep early, by the sweep itself or by a signal (a non-zero signal number);
// checked before every block.
struct StopRequest {
  const std::atomic<bool>* sweep = nullptr;
  const std::atomic<int>* interrupt = nullptr;

  bool raised() const {
    return (sweep && sweep->load(std::memory_order_relaxed)) ||
           (interrupt && interrupt->load(std::memory_order_relaxed) != 0);
  }
};

class FastPointSimulator {
 public:
  // `codec` gives the code, the schedule (which ErrorPatternDecoder must support), L and Q;
  // `cache` the stream of the run's channel seed. Both must outlive the simulator.
  FastPointSimulator(const RunParameters& parameters, const NonBinaryCodec& codec,
                     DrawStreamCache& cache);

  // Simulates blocks at P0 until minBlockErr block errors or volume information symbols and
  // fills `result`; false when `stop` was raised first (the result is then incomplete).
  // Publishes the counts after every block to `progress`, when given.
  bool simulate(float P0, PointResult& result, const StopRequest& stop = {},
                PointProgress* progress = nullptr);

 private:
  const RunParameters& parameters_;
  std::int32_t nk_ = 0;
  std::int32_t nr_ = 0;
  std::int32_t itert_;
  ErrorPatternSource source_;
  ErrorPatternDecoder decoder_;
};

}  // namespace nbsim
