// The simulation proper: start-up, the sweep over P0 from P0_first down to P0_last, the blocks
// of each point until enough block errors or enough symbols, the report, the timing and the end.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "channel/channel.h"
#include "channel/draw_stream.h"
#include "code/nonbinary_codec.h"
#include "run/clock.h"
#include "run/key_reader.h"
#include "run/point_progress.h"
#include "run/point_reporter.h"
#include "run/point_result.h"
#include "run/run_parameters.h"
#include "run/sweep_progress.h"
#include "text/report_stream.h"

namespace nbsim {

// Exit statuses of the program.
enum ExitStatus : int {
  exitSuccess = 0,
  exitParameterFile = 1,  // "param.txt" missing, too short or refused
  exitCodeFile = 2,       // "encoder.txt" missing or unusable
  exitReportFile = 3,     // "result.txt" cannot be opened or written
  exitResultsFile = 4,    // the run completed, but "result.csv" or "result.svg" failed
  // An interrupted run ends with 128 + the signal number, as a shell reports it.
  exitInterruptedBase = 128,
};

// The files of a run; the program uses these names in the current directory.
struct RunFiles {
  std::string parameterFile = "param.txt";
  std::string codeFile = "encoder.txt";
  std::string reportFile = "result.txt";
  std::string csvFile = "result.csv";
  std::string plotFile = "result.svg";
};

// How the sweep simulates its points.
struct SweepOptions {
  // The fast path, when the codec's schedule allows it; otherwise the plain reference path.
  bool fast = true;
  // Points simulated at once on the fast path; 1 runs everything on the calling thread.
  std::int32_t threads = 1;
  // The shared draw stream's chunks: draws per chunk and how many are kept.
  std::size_t chunkSize = DrawStreamCache::defaultChunkSize;
  std::size_t chunkCount = DrawStreamCache::defaultChunkCount;
  // A signal number here (set by a handler) ends the sweep after the points already complete.
  const std::atomic<int>* interrupt = nullptr;
  // The live progress line; none unless it is drawable.
  ProgressOutput progress;
};

// How a sweep ended.
enum class SweepOutcome {
  completed,     // every point simulated and reported
  interrupted,   // a signal ended it; every point before is reported
  reportFailed,  // the report could not be written; the sweep stopped there
};

// What the run talks to: the console, standard error for failures, the clock and the keyboard.
struct RunEnvironment {
  std::ostream& console;
  std::ostream& errors;
  Clock& clock;
  KeyReader& keys;
  RunFiles files;
  SweepOptions sweep;
};

// Start-up and the whole run. Any start-up failure prints one line on `errors` and returns its
// status before "result.txt" is touched.
int runProgram(RunEnvironment& environment);

// Sweeps P0 and reports every point, in order.
class RunSequence {
 public:
  RunSequence(const RunParameters& parameters, NonBinaryCodec& codec, Channel& channel,
              text::ReportStream& report, std::ostream& console, SweepOptions options = {})
      : parameters_(parameters),
        codec_(codec),
        channel_(channel),
        report_(report),
        console_(console),
        options_(options) {}

  // Simulates and reports P0 = P0_first, then P0 - P0_step (computed in double, stored as
  // float) while the double difference stays at or above P0_last. Nothing when
  // P0_first < P0_last. The channel's seed must be set. Stops at the first point whose report
  // cannot be written, and before the first block after an interrupt. Shows the progress line
  // while it runs, when the options give a drawable one.
  SweepOutcome sweepErrorProbability();

  // Gives `reporter` every point once the report holds it, in order; it must outlive the sweep.
  void addReporter(PointReporter& reporter) { reporters_.push_back(&reporter); }

  // The plain reference path for one point: the source's blocks encoded, sent through the
  // channel and decoded by the codec, until minBlockErr block errors or volume information
  // symbols. Returns the decoded symbol error rate (at least one error is counted, so it is
  // never 0); the codec holds the point's statistics. Publishes the counts after every block to
  // `progress`, when given.
  double simulatePoint(float P0, PointCounters& counters, PointProgress* progress = nullptr);

  // Information symbols simulated over all points reported so far.
  std::int64_t runInfoSymbols() const { return runInfoSymbols_; }
  // Points reported so far.
  std::int64_t pointsReported() const { return pointsReported_; }

 private:
  const RunParameters& parameters_;
  NonBinaryCodec& codec_;
  Channel& channel_;
  text::ReportStream& report_;
  SweepOutcome sweepReference();
  SweepOutcome sweepFast();
  // Writes the point's block of the report and its console line; false when the report could
  // not be written.
  bool reportPoint(const PointResult& point);

  std::ostream& console_;
  SweepOptions options_;
  std::vector<PointReporter*> reporters_;
  SweepProgress* progress_ = nullptr;  // during a sweep with a progress line
  std::int64_t runInfoSymbols_ = 0;
  std::int64_t pointsReported_ = 0;
};

}  // namespace nbsim
