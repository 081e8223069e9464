// The sweep over P0: P0_first, then P0 - P0_step while the double difference stays at or above
// P0_last, every point taken in that order from a scheduler and handed on. The one loop of the
// program over points; which path simulates them and on how many threads is chosen here once.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "channel/draw_stream.h"
#include "code/nonbinary_codec.h"
#include "engine/point_progress.h"
#include "engine/point_result.h"
#include "engine/run_parameters.h"
#include "engine/scheduler.h"

namespace nbsim {

// Makes a scheduler that simulates the points in other processes (on other machines), for the
// run's code, parameters and seed and the sweep's points.
using RemoteScheduler = std::function<std::unique_ptr<Scheduler>(
    const NonBinaryCodec& codec, const RunParameters& parameters, std::int32_t seed,
    const SweepPoints& points, const StopRequest& stop)>;

// How the sweep simulates its points.
struct SweepOptions {
  // The fast path, when the codec's schedule allows it; otherwise the plain reference path.
  bool fast = true;
  // Points simulated at once; 1 runs everything on the calling thread.
  std::int32_t threads = 1;
  // The processes (MPI ranks) that share the run; told to the outputs only.
  std::int32_t ranks = 1;
  // The shared draw stream's chunks: draws per chunk and how many are kept.
  std::size_t chunkSize = DrawStreamCache::defaultChunkSize;
  std::size_t chunkCount = DrawStreamCache::defaultChunkCount;
  // A signal number here (set by a handler) ends the sweep within a block, after the points
  // already complete.
  const std::atomic<int>* interrupt = nullptr;
  // When set, the points are simulated elsewhere instead of on this process's threads.
  RemoteScheduler remote;
  // What an interrupted run left of its points, when this sweep resumes it: points done are
  // handed on again as they were, points cut in the middle go on from their state.
  const ResumePoints* resume = nullptr;
};

// Hands every point of the sweep, in order, to `deliver`, which returns false to end the sweep;
// takes them from `scheduler`.
SweepOutcome sweepErrorProbability(Scheduler& scheduler,
                                   const std::function<bool(const PointResult&)>& deliver);

// The point simulators of a run: the fast path where the decoder supports the codec's schedule
// and the options ask for it, else the reference path. Owns what they share (the draw stream).
class PointSimulators {
 public:
  // `codec` must outlive this object and every simulator it makes.
  PointSimulators(const NonBinaryCodec& codec, const RunParameters& parameters, std::int32_t seed,
                  const SweepOptions& options);

  std::unique_ptr<PointSimulator> make();

 private:
  const NonBinaryCodec& codec_;
  PointLimits limits_;
  std::int32_t seed_;
  std::optional<DrawStreamCache> cache_;  // on the fast path
};

// The whole sweep of `parameters` for `codec` and the run seed: simulators, scheduler and loop.
// `watcher`, when given, follows the points as they run. Runs on fewer threads than asked for
// when the system starts no more, on the calling thread when it starts none. What a simulator
// throws (std::bad_alloc, say) leaves here, on the calling thread, once every point completed
// before the one that threw has been handed on.
SweepOutcome sweepErrorProbability(const NonBinaryCodec& codec, const RunParameters& parameters,
                                   std::int32_t seed, const SweepOptions& options,
                                   const std::function<bool(const PointResult&)>& deliver,
                                   SweepWatcher* watcher = nullptr);

}  // namespace nbsim
