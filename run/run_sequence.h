// Where the run starts and talks to the system. This folder holds the entry point (main.cpp),
// start-up and the parameter file, the run sequence below, and what the run needs of the system:
// the clocks, the keyboard, the interrupt signals, the terminal and its progress line, and the
// thread count. It wires the engine (engine/) to the outputs (output/); nothing else depends on
// it.
#pragma once

#include <cstdint>
#include <string>

#include "output/checkpoint.h"
#include "output/report_writer.h"
#include "output/run_listener.h"
#include "run/run_environment.h"
#include "run/startup.h"

namespace nbsim {

class CheckpointKeeper;

// Start-up and the whole run, or (environment.resume) the rest of an interrupted one; returns the
// exit status. Any start-up failure, and a checkpoint that cannot be resumed, prints one line on
// the environment's failure stream and returns its status before "result.txt" is touched.
int runProgram(RunEnvironment& environment);

// A started run: opens the report, tells every output the run, sweeps, tells them how it ended,
// prints the closing prompt and waits for a key.
class RunSequence {
 public:
  // `environment`, `run` and `resumed` must outlive the sequence. `resumed`: the checkpoint of
  // the interrupted run that this one goes on with, whose seed and inputs `run` has.
  RunSequence(RunEnvironment& environment, const StartedRun& run,
              const Checkpoint* resumed = nullptr)
      : environment_(environment), run_(run), resumed_(resumed) {}

  // Returns the exit status.
  int run();

 private:
  // The sweep's points to the outputs, the progress line (on a terminal) kept out of the way of
  // the console lines.
  SweepOutcome sweep(RunListener& outputs);
  // The same, with a failure of the simulation as its outcome and its words in `failure`.
  SweepOutcome sweep(RunListener& outputs, std::string& failure);
  // The status and the failure line of a sweep that did not complete.
  int unfinished(SweepOutcome outcome, const ReportWriter& report, const std::string& failure);
  // The status and the line for a report that cannot be opened, or for a signal that broke
  // the open.
  int reportOpenFailure(int error);
  // The line for a report that could not be written, and its status.
  int reportWriteFailure(int error);

  RunEnvironment& environment_;
  const StartedRun& run_;
  const Checkpoint* resumed_;
  CheckpointKeeper* checkpoint_ = nullptr;  // follows the points in progress
  std::int64_t pointsReported_ = 0;
};

}  // namespace nbsim
