// The sweep's points simulated on several threads at once, each thread with a simulator of its
// own, and handed over strictly in sweep order: each point as soon as it and every point before
// it are done.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

#include "run/fast_point_simulator.h"
#include "run/point_result.h"
#include "run/sweep_points.h"
#include "run/sweep_progress.h"

namespace nbsim {

class ParallelSweep {
 public:
  // Simulates point `index` (0 for the first of the sweep) at P0; false when the stop request
  // was raised first.
  using Simulate = std::function<bool(std::int64_t index, float P0, PointResult& result,
                                      const StopRequest& stop)>;

  // Points a worker may run ahead of the next one to hand over: enough to stay busy past a slow
  // point, few enough to bound the results held.
  static constexpr std::int32_t pointsPerThreadAhead = 16;

  // `threads` workers (at least 1); a worker starts a point only while fewer than `window`
  // points are started or waiting ahead of the next one to hand over (by default
  // pointsPerThreadAhead per thread).
  explicit ParallelSweep(std::int32_t threads, std::int32_t window = 0);

  // Makes, for each worker, a fast-path simulator of its own on the shared `cache`. With
  // `progress`, the n-th simulator made publishes its points to slot n, which must exist.
  static std::function<Simulate()> fastSimulators(const RunParameters& parameters,
                                                  const NonBinaryCodec& codec,
                                                  DrawStreamCache& cache,
                                                  SweepProgress* progress = nullptr);

  // Runs the sweep of `points`. `makeSimulator` is called once per worker, on this thread;
  // `deliver` is called on this thread with every finished point in order and returns false to
  // end the sweep. A raised `interrupt` ends it too: points already finished in order are still
  // delivered. Returns true when every point was delivered.
  bool run(SweepPoints& points, const std::function<Simulate()>& makeSimulator,
           const std::function<bool(const PointResult&)>& deliver,
           const std::atomic<int>* interrupt);

 private:
  std::int32_t threads_;
  std::int32_t window_;
};

}  // namespace nbsim
