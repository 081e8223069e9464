// The outputs of a run: the report, the console lines, the CSV, the JSON description and the plot.
// Each implements RunListener and is told the same three things in the same order: the run's start,
// every finished point in sweep order, and how the run ended. Number formatting (number_format.h)
// and the report's code page (report_stream.h) live here too, so every text the program writes
// comes from this folder.
//
// The outputs use the domain (code/) and the engine's results (engine/point_result.h, the run
// parameters); nothing below them knows any output.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "code/nonbinary_codec.h"
#include "engine/point_result.h"
#include "engine/run_parameters.h"

namespace nbsim {

// What a run simulates, told before its first point.
struct RunDescription {
  const RunParameters& parameters;
  const NonBinaryCodec& codec;
  std::int32_t runSeed = 0;
  // The clock second whose first source draw gave the run seed; none for a seed chosen outright.
  std::optional<std::int64_t> seedSecond = std::nullopt;
  // The wall clock when the sweep starts: seconds since the epoch and a millisecond part 0..999.
  std::int64_t startSecond = 0;
  std::int32_t startMillisecond = 0;
  // The simulating threads asked for, and the processes that share the run.
  std::int32_t threads = 1;
  std::int32_t ranks = 1;
};

// How a run ended, told after its last point.
struct RunOutcome {
  SweepOutcome sweep = SweepOutcome::completed;
  // The time the sweep took (seconds, and milliseconds 0..999); meaningful when it completed.
  std::int64_t elapsedSeconds = 0;
  std::int32_t elapsedMilliseconds = 0;
  // The wall clock when the run ended, as the start time in RunDescription.
  std::int64_t endSecond = 0;
  std::int32_t endMillisecond = 0;
};

class RunListener {
 public:
  virtual ~RunListener() = default;
  // The run's parameters, code and seed; false when this output cannot go on and the run must
  // end (only the report says so: the other outputs give up on their own and say why).
  virtual bool start(const RunDescription& run) = 0;
  // One finished point, in sweep order; false as for start.
  virtual bool point(const PointResult& point) = 0;
  // How the run ended.
  virtual void finish(const RunOutcome& outcome) = 0;
};

// Several outputs told as one, in the order added.
class RunListeners : public RunListener {
 public:
  // `listener` must outlive this object.
  void add(RunListener& listener) { listeners_.push_back(&listener); }

  // Every output starts, also after one that cannot go on; false when one of them cannot.
  bool start(const RunDescription& run) override {
    bool good = true;
    for (RunListener* listener : listeners_) good = listener->start(run) && good;
    return good;
  }
  // The outputs after one that cannot take the point do not get it.
  bool point(const PointResult& point) override {
    for (RunListener* listener : listeners_) {
      if (!listener->point(point)) return false;
    }
    return true;
  }
  void finish(const RunOutcome& outcome) override {
    for (RunListener* listener : listeners_) listener->finish(outcome);
  }

 private:
  std::vector<RunListener*> listeners_;
};

}  // namespace nbsim
