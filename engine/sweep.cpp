// The sweep loop and the choice of path and scheduler.
#include "engine/sweep.h"

#include "code/error_pattern_decoder.h"
#include "engine/fast_point_simulator.h"
#include "engine/reference_point_simulator.h"

namespace nbsim {

SweepOutcome sweepErrorProbability(Scheduler& scheduler,
                                   const std::function<bool(const PointResult&)>& deliver) {
  PointResult point;
  for (std::int64_t index = 0;; ++index) {
    switch (scheduler.take(index, point)) {
      case Scheduler::Take::end:
        return SweepOutcome::completed;
      case Scheduler::Take::stopped:
        return SweepOutcome::interrupted;
      case Scheduler::Take::point:
        if (!deliver(point)) return SweepOutcome::refused;
        break;
    }
  }
}

PointSimulators::PointSimulators(const NonBinaryCodec& codec, const RunParameters& parameters,
                                 std::int32_t seed, const SweepOptions& options)
    : codec_(codec), limits_{parameters.volume, parameters.minBlockErr}, seed_(seed) {
  if (options.fast && ErrorPatternDecoder::supports(codec)) {
    cache_.emplace(seed, options.chunkSize, options.chunkCount);
  }
}

std::unique_ptr<PointSimulator> PointSimulators::make() {
  if (cache_) return std::make_unique<FastPointSimulator>(codec_, limits_, *cache_);
  return std::make_unique<ReferencePointSimulator>(codec_, limits_, seed_);
}

SweepOutcome sweepErrorProbability(const NonBinaryCodec& codec, const RunParameters& parameters,
                                   std::int32_t seed, const SweepOptions& options,
                                   const std::function<bool(const PointResult&)>& deliver,
                                   SweepWatcher* watcher) {
  PointSimulators simulators(codec, parameters, seed, options);
  const SimulatorFactory make = [&simulators] { return simulators.make(); };
  SweepPoints points(parameters);
  points.resumeFrom(options.resume);
  const StopRequest stop{nullptr, options.interrupt};
  if (options.remote) {
    const std::unique_ptr<Scheduler> scheduler =
        options.remote(codec, parameters, seed, points, stop);
    return sweepErrorProbability(*scheduler, deliver);
  }
  if (options.threads <= 1) {
    SerialScheduler scheduler(points, make, stop, watcher);
    return sweepErrorProbability(scheduler, deliver);
  }
  ThreadScheduler scheduler(points, make, options.threads, stop, watcher);
  return sweepErrorProbability(scheduler, deliver);
}

}  // namespace nbsim
