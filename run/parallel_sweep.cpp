// The ordered parallel sweep: workers take the next P0 under a lock, simulate it without one,
// and leave the result for the calling thread, which hands results over by point index.
#include "run/parallel_sweep.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace nbsim {

ParallelSweep::ParallelSweep(std::int32_t threads, std::int32_t window)
    : threads_(std::max(threads, 1)),
      window_(window > 0 ? window : threads_ * pointsPerThreadAhead) {}

std::function<ParallelSweep::Simulate()> ParallelSweep::fastSimulators(
    const RunParameters& parameters, const NonBinaryCodec& codec, DrawStreamCache& cache,
    SweepProgress* progress) {
  auto made = std::make_shared<std::int32_t>(0);
  return [&parameters, &codec, &cache, progress, made]() -> Simulate {
    auto simulator = std::make_shared<FastPointSimulator>(parameters, codec, cache);
    PointProgress* slot = progress ? &progress->slot((*made)++) : nullptr;
    return [simulator, progress, slot](std::int64_t index, float P0, PointResult& point,
                                       const StopRequest& stop) {
      if (slot) progress->startPoint(*slot, index, P0);
      return simulator->simulate(P0, point, stop, slot);
    };
  };
}

bool ParallelSweep::run(SweepPoints& points, const std::function<Simulate()>& makeSimulator,
                        const std::function<bool(const PointResult&)>& deliver,
                        const std::atomic<int>* interrupt) {
  std::mutex mutex;
  std::condition_variable changed;
  std::map<std::int64_t, PointResult> finished;
  std::int64_t started = 0;
  std::int64_t delivered = 0;
  std::int32_t running = threads_;
  bool exhausted = false;
  bool cut = false;  // a worker left before the sweep ran out of points
  std::atomic<bool> abort{false};
  const StopRequest stop{&abort, interrupt};

  std::vector<Simulate> simulators;
  for (std::int32_t t = 0; t < threads_; ++t) simulators.push_back(makeSimulator());

  const auto work = [&](Simulate& simulate) {
    PointResult result;
    for (;;) {
      float P0 = 0.0f;
      std::int64_t index = 0;
      {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock,
                     [&] { return exhausted || stop.raised() || started - delivered < window_; });
        if (exhausted) break;
        if (stop.raised()) {
          cut = true;
          break;
        }
        if (!points.next(P0)) {
          exhausted = true;
          break;
        }
        index = started++;
      }
      const bool done = simulate(index, P0, result, stop);
      const std::lock_guard<std::mutex> lock(mutex);
      if (!done) {
        cut = true;
        break;
      }
      finished.emplace(index, result);
      changed.notify_all();
    }
    const std::lock_guard<std::mutex> lock(mutex);
    --running;
    changed.notify_all();
  };

  std::vector<std::thread> workers;
  workers.reserve(simulators.size());
  for (Simulate& simulate : simulators) workers.emplace_back(work, std::ref(simulate));

  bool complete = true;
  for (;;) {
    PointResult next;
    {
      std::unique_lock<std::mutex> lock(mutex);
      // A signal sets the interrupt without waking anyone, hence the bounded wait.
      while (finished.count(delivered) == 0 && running > 0) {
        changed.wait_for(lock, std::chrono::milliseconds(50));
      }
      auto found = finished.find(delivered);
      if (found == finished.end()) break;  // every worker has ended
      next = std::move(found->second);
      finished.erase(found);
    }
    if (!deliver(next)) {
      abort.store(true);
      complete = false;
      changed.notify_all();
      break;
    }
    const std::lock_guard<std::mutex> lock(mutex);
    ++delivered;
    changed.notify_all();
  }
  for (std::thread& worker : workers) worker.join();
  return complete && !cut;
}

}  // namespace nbsim
