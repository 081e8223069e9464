// The run sequence: the outputs, the sweep, the timing and the end of a run.
#include "run/run_sequence.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <optional>

#include "output/console_writer.h"
#include "output/csv_results_writer.h"
#include "output/plot_writer.h"
#include "output/report_writer.h"
#include "run/interrupt_signals.h"

namespace nbsim {
namespace {

int receivedSignal(const RunEnvironment& environment) {
  return environment.sweep.interrupt ? environment.sweep.interrupt->load() : 0;
}

// How the sweep ended, with the time from `start` to `end`: seconds, and milliseconds borrowed
// from them when the end's part is the smaller.
RunOutcome ended(SweepOutcome outcome, const ClockReading& start, const ClockReading& end) {
  RunOutcome ended{outcome, end.seconds - start.seconds, end.milliseconds - start.milliseconds};
  if (ended.elapsedMilliseconds < 0) {
    ended.elapsedSeconds -= 1;
    ended.elapsedMilliseconds += 1000;
  }
  return ended;
}

}  // namespace

int runProgram(RunEnvironment& environment) {
  int status = exitSuccess;
  const std::optional<StartedRun> started = startUp(environment, status);
  if (!started) return status;
  return RunSequence(environment, *started).run();
}

int RunSequence::run() {
  const RunFiles& files = environment_.files;
  if (receivedSignal(environment_) != 0) return interruption(files.reportFile + " was not touched");
  std::ofstream reportFile(files.reportFile, std::ios::out | std::ios::binary | std::ios::trunc);
  if (!reportFile) {
    environment_.errors << "nbsim: " << files.reportFile
                        << ": cannot be opened for writing: " << std::strerror(errno) << '\n'
                        << std::flush;
    return exitReportFile;
  }
  // The console line of a point comes before the report's verdict on it.
  ConsoleWriter console(environment_.console);
  ReportWriter report(reportFile);
  CsvResultsWriter csv(files.csvFile, environment_.errors);
  PlotWriter plot(files.plotFile, environment_.errors);
  RunListeners outputs;
  for (RunListener* output : std::initializer_list<RunListener*>{&console, &report, &csv, &plot}) {
    outputs.add(*output);
  }

  const ClockReading start = environment_.clock.now();
  if (!outputs.start(RunDescription{run_.parameters, run_.codec, run_.runSeed, run_.seedSecond,
                                    start.seconds, start.milliseconds})) {
    outputs.finish(RunOutcome{SweepOutcome::refused});
    return reportWriteFailure(report.failure());
  }
  const SweepOutcome outcome = sweep(outputs);
  // The plot shows the points that the report holds, also those of an interrupted sweep.
  outputs.finish(ended(outcome, start, environment_.clock.now()));
  if (outcome == SweepOutcome::refused) return reportWriteFailure(report.failure());
  if (outcome == SweepOutcome::interrupted) {
    return interruption(files.reportFile + " holds the " + std::to_string(pointsReported_) +
                        " completed points");
  }
  // The buffered end of the report (all of it when the sweep had no point) reaches the file
  // here; a failure is the last chance to say that the report is incomplete.
  reportFile.close();
  if (!report.good() || reportFile.fail()) {
    return reportWriteFailure(report.failure() != 0 ? report.failure() : EIO);
  }
  console.printClosingPrompt();
  environment_.keys.waitForKey();
  if (receivedSignal(environment_) != 0) return interruption("the run was complete");
  return csv.failed() || plot.failed() ? exitResultsFile : exitSuccess;
}

SweepOutcome RunSequence::sweep(RunListener& outputs) {
  std::optional<SweepProgress> progress;
  if (environment_.progress.drawable()) {
    progress.emplace(environment_.progress, environment_.sweep.threads, run_.parameters.volume,
                     run_.parameters.minBlockErr);
    progress->startTicking();
  }
  const auto deliver = [&](const PointResult& point) {
    // The console line takes the place of the progress line, which stays away until the point
    // is out; it then follows the next point, the one the console waits for now.
    if (progress) progress->suspend();
    if (!outputs.point(point)) return false;
    ++pointsReported_;
    if (progress) progress->watch(pointsReported_);
    return true;
  };
  // The line is erased when `progress` ends, before anything more reaches the terminal.
  return sweepErrorProbability(run_.codec, run_.parameters, run_.runSeed, environment_.sweep,
                               deliver, progress ? &*progress : nullptr);
}

int RunSequence::reportWriteFailure(int error) {
  environment_.errors << "nbsim: " << environment_.files.reportFile
                      << ": cannot be written: " << std::strerror(error) << '\n'
                      << std::flush;
  return exitReportFile;
}

int RunSequence::interruption(const std::string& what) {
  const int signal = receivedSignal(environment_);
  environment_.errors << "nbsim: interrupted by " << signalName(signal) << "; " << what << '\n'
                      << std::flush;
  return exitInterruptedBase + signal;
}

}  // namespace nbsim
