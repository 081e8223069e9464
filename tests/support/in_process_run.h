// Test support: the whole program driven in-process on the files of a ProgramFolder, with a
// clock that returns fixed readings and a key reader that only counts.
#pragma once

#include <atomic>
#include <cstdlib>
#include <ctime>
#include <sstream>
#include <string>
#include <vector>

#include "run/run_sequence.h"
#include "tests/run/program_runner.h"

namespace nbsim::testing {

// Returns the readings in turn: the seeding second, the start and the end of the sweep. As the
// clock of elapsed time it gives the start and the end readings in milliseconds.
class FixedClock : public Clock, public ElapsedClock {
 public:
  explicit FixedClock(std::vector<ClockReading> readings) : readings_(std::move(readings)) {}
  ClockReading now() override { return at(next_.fetch_add(1)); }
  std::int64_t milliseconds() override {
    const ClockReading reading = at(1 + elapsedNext_.fetch_add(1));
    return reading.seconds * 1000 + reading.milliseconds;
  }

 private:
  ClockReading at(std::size_t k) const { return readings_[std::min(k, readings_.size() - 1)]; }

  std::vector<ClockReading> readings_;
  // Read from several threads: the run's, the progress line's and the checkpoint's.
  std::atomic<std::size_t> next_{0};
  std::atomic<std::size_t> elapsedNext_{0};
};

class CountingKeys : public KeyReader {
 public:
  void waitForKey() override { ++presses; }
  int presses = 0;
};

struct InProcessRun {
  int status = -1;
  std::string console;
  std::string errors;
  std::string report;
  int keyPresses = 0;
};

// The program in `folder`; with `resume`, as `nbsim --resume`.
inline InProcessRun runIn(const ProgramFolder& folder, std::vector<ClockReading> readings,
                          SweepOptions sweep = {}, ProgressOutput progress = {},
                          bool resume = false) {
  setenv("TZ", "UTC", 1);
  tzset();
  std::ostringstream console;
  std::ostringstream errors;
  FixedClock clock(std::move(readings));
  CountingKeys keys;
  RunFiles files{(folder.path() / "param.txt").string(),  (folder.path() / "encoder.txt").string(),
                 (folder.path() / "result.txt").string(), (folder.path() / "result.csv").string(),
                 (folder.path() / "result.svg").string(), (folder.path() / "nbsim.lock").string(),
                 (folder.path() / "result.json").string(),
                 (folder.path() / "nbsim.checkpoint").string()};
  RunEnvironment environment{console, errors, clock,  clock, keys, files,
                             sweep,   progress, {}, resume, {}};
  InProcessRun run;
  run.status = runProgram(environment);
  run.console = console.str();
  run.errors = errors.str();
  run.report = folder.read("result.txt");
  run.keyPresses = keys.presses;
  return run;
}

}  // namespace nbsim::testing
