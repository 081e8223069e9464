// The run sequence: the outputs, the sweep, the timing and the end of a run.
#include "run/run_sequence.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <new>
#include <optional>
#include <string>

#include "output/console_writer.h"
#include "output/csv_results_writer.h"
#include "output/plot_writer.h"
#include "output/report_writer.h"
#include "output/run_json_writer.h"
#include "run/checkpoint_keeper.h"
#include "run/folder_lock.h"

namespace nbsim {
namespace {

// The run's elapsed time from the milliseconds `start` to `end` of a clock that never goes back,
// and the wall clock `wall` at its end.
RunOutcome ended(SweepOutcome outcome, std::int64_t start, std::int64_t end, ClockReading wall) {
  const std::int64_t milliseconds = end - start;
  return RunOutcome{outcome, milliseconds / 1000, static_cast<std::int32_t>(milliseconds % 1000),
                    wall.seconds, wall.milliseconds};
}

// What failed, in words for the failure line.
std::string describe(const std::exception& failure) {
  if (dynamic_cast<const std::bad_alloc*>(&failure) != nullptr) return "out of memory";
  return failure.what();
}

// The checkpoint of the folder's interrupted run; nothing, with one line on the failure stream
// and the status in `status`, when there is none or it cannot be resumed.
std::optional<Checkpoint> readCheckpointFile(RunEnvironment& environment, int& status) {
  const std::string& path = environment.files.checkpointFile;
  const auto refuse = [&](int refusal, const std::string& why) {
    environment.errors << "nbsim: --resume: " << why << '\n' << std::flush;
    status = refusal;
    return std::nullopt;
  };
  errno = 0;
  std::ifstream file(path, std::ios::in | std::ios::binary);
  if (!file) {
    const int error = errno;
    if (error == ENOENT) {
      return refuse(exitNoCheckpoint, "no run to resume here: " + path + " is not there");
    }
    return refuse(exitCheckpointUnreadable,
                  path + " cannot be read: " + std::strerror(error != 0 ? error : EIO));
  }
  // A checkpoint is a few hundred bytes for each point; anything far larger is not one.
  constexpr std::size_t largest = std::size_t{64} << 20;
  std::string text;
  char buffer[65536];
  while (text.size() <= largest && file.read(buffer, sizeof buffer).gcount() > 0) {
    text.append(buffer, static_cast<std::size_t>(file.gcount()));
  }
  if (file.bad()) {
    return refuse(exitCheckpointUnreadable, path + " cannot be read: " + std::strerror(EIO));
  }
  Checkpoint checkpoint;
  std::string error = "it is cut short or damaged";
  if (text.size() > largest || !readCheckpoint(text, checkpoint, error)) {
    return refuse(exitCheckpointUnreadable, path + " cannot be used: " + error);
  }
  return checkpoint;
}

}  // namespace

int runProgram(RunEnvironment& environment) {
  int status = exitSuccess;
  std::optional<Checkpoint> resumed;
  if (environment.resume) {
    resumed = readCheckpointFile(environment, status);
    if (!resumed) return status;
    environment.chosenSeed = resumed->runSeed;
  }
  std::optional<StartedRun> started = startUp(environment, status);
  if (!started) return status;
  if (!resumed) return RunSequence(environment, *started).run();
  started->seedSecond = resumed->seedSecond;
  const std::string change = inputChange(*resumed, started->parameters, started->codec.code());
  if (!change.empty()) {
    environment.errors << "nbsim: --resume: " << change
                       << "; the run can only go on with the inputs it read\n"
                       << std::flush;
    return exitInputsChanged;
  }
  const NonBinaryCodec& codec = started->codec;
  if (!pointsHold(*resumed, codec.nk(), codec.nr(), codec.blockLength())) {
    environment.errors << "nbsim: --resume: " << environment.files.checkpointFile
                       << " cannot be used: its points do not fit the run\n"
                       << std::flush;
    return exitCheckpointUnreadable;
  }
  if (resumed->complete) {
    environment.console << "The run in this folder is complete: nothing to resume\n" << std::flush;
    return exitSuccess;
  }
  return RunSequence(environment, *started, &*resumed).run();
}

int RunSequence::run() {
  const RunFiles& files = environment_.files;
  if (const int signal = receivedSignal(environment_)) {
    return interruption(environment_, signal, files.reportFile + " was not touched");
  }
  // Taken before any output is touched, and held to the end of the run.
  const FolderLock lock(files.lockFile);
  if (lock.busy()) {
    environment_.errors << "nbsim: " << lock.error() << '\n' << std::flush;
    return exitFolderInUse;
  }
  errno = 0;
  std::ofstream reportFile(files.reportFile, std::ios::out | std::ios::binary | std::ios::trunc);
  if (!reportFile) return reportOpenFailure(errno);
  // The console line of a point comes before the report's verdict on it.
  ConsoleWriter console(environment_.console, environment_.errors);
  ReportWriter report(reportFile);
  CsvResultsWriter csv(files.csvFile, environment_.errors);
  RunJsonWriter json(files.jsonFile, environment_.errors);
  PlotWriter plot(files.plotFile, environment_.errors,
                  [this] { return environment_.elapsed.milliseconds(); });
  // The checkpoint of this run, or of the run it goes on with, which brings its points along.
  Checkpoint base;
  if (resumed_) {
    base = *resumed_;
  } else {
    const ClockReading start = environment_.clock.now();
    base.runSeed = run_.runSeed;
    base.seedSecond = run_.seedSecond;
    base.startSecond = start.seconds;
    base.startMillisecond = start.milliseconds;
    base.parameters = run_.parameters;
    base.code = run_.codec.code();
  }
  CheckpointKeeper checkpoint(
      files.checkpointFile, environment_.errors, base,
      [this] { return environment_.elapsed.milliseconds(); }, environment_.sweep.threads,
      environment_.checkpointEvery);
  checkpoint_ = &checkpoint;
  RunListeners outputs;
  for (RunListener* output :
       std::initializer_list<RunListener*>{&console, &report, &csv, &json, &plot, &checkpoint}) {
    outputs.add(*output);
  }

  // A resumed run's time counts from its first sitting.
  const std::int64_t startMilliseconds =
      environment_.elapsed.milliseconds() - base.elapsedMilliseconds;
  if (!outputs.start(RunDescription{run_.parameters, run_.codec, run_.runSeed, run_.seedSecond,
                                    base.startSecond, base.startMillisecond,
                                    environment_.sweep.threads, environment_.sweep.ranks})) {
    outputs.finish(RunOutcome{SweepOutcome::refused});
    return reportWriteFailure(report.failure());
  }
  if (resumed_) {
    std::int64_t done = 0;
    while (resumed_->points.count(done) != 0 && resumed_->points.at(done).done) ++done;
    const auto next = resumed_->points.find(done);
    console.printResumed(
        done, next == resumed_->points.end() ? 0 : next->second.result.counters.infoSymbols);
  }
  std::string failure;
  const SweepOutcome outcome = sweep(outputs, failure);
  // The plot shows the points that the report holds, also those of an interrupted sweep.
  const std::int64_t endMilliseconds = environment_.elapsed.milliseconds();
  outputs.finish(ended(outcome, startMilliseconds, endMilliseconds, environment_.clock.now()));
  if (outcome != SweepOutcome::completed) return unfinished(outcome, report, failure);
  // The buffered end of the report (all of it when the sweep had no point) reaches the file
  // here; a failure is the last chance to say that the report is incomplete.
  reportFile.close();
  if (!report.good() || reportFile.fail()) {
    return reportWriteFailure(report.failure() != 0 ? report.failure() : EIO);
  }
  console.printClosingPrompt();
  // A signal at the key wait only ends the wait: the run is complete.
  environment_.keys.waitForKey();
  return csv.failed() || json.failed() || plot.failed() || checkpoint.failed() || console.lost()
             ? exitResultsFile
             : exitSuccess;
}

SweepOutcome RunSequence::sweep(RunListener& outputs, std::string& failure) {
  try {
    return sweep(outputs);
  } catch (const std::exception& error) {
    failure = describe(error);
    return SweepOutcome::failed;
  }
}

int RunSequence::unfinished(SweepOutcome outcome, const ReportWriter& report,
                            const std::string& failure) {
  if (outcome == SweepOutcome::refused) return reportWriteFailure(report.failure());
  std::string folder = environment_.folder;
  if (folder.find_first_of(" \t\n'\"\\$`*?[]{}()<>|&;#~!") != std::string::npos) {
    std::string quoted = "'";
    for (const char c : folder) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    folder = quoted + "'";
  }
  const std::string kept = environment_.files.reportFile + " holds the " +
                           std::to_string(pointsReported_) + " completed points; nbsim --resume" +
                           (folder.empty() ? "" : " " + folder) + " goes on from there";
  if (outcome == SweepOutcome::interrupted) {
    return interruption(environment_, receivedSignal(environment_), kept);
  }
  environment_.errors << "nbsim: the simulation failed: " << failure << "; " << kept << '\n'
                      << std::flush;
  return exitRunFailed;
}

int RunSequence::reportOpenFailure(int error) {
  // A signal breaks an open that waits (a FIFO without a reader).
  if (const int signal = receivedSignal(environment_)) {
    return interruption(environment_, signal, environment_.files.reportFile + " was not touched");
  }
  environment_.errors << "nbsim: " << environment_.files.reportFile
                      << ": cannot be opened for writing: " << std::strerror(error) << '\n'
                      << std::flush;
  return exitReportFile;
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
  SweepOptions options = environment_.sweep;
  if (resumed_) options.resume = &resumed_->points;
  // The checkpoint takes the states from the progress line's slots while they are there,
  // also when the sweep throws.
  checkpoint_->watchThrough(progress ? &*progress : nullptr);
  struct StopWatching {
    CheckpointKeeper& checkpoint;
    ~StopWatching() { checkpoint.watchThrough(nullptr); }
  } stopWatching{*checkpoint_};
  // The line is erased when `progress` ends, before anything more reaches the terminal.
  return sweepErrorProbability(run_.codec, run_.parameters, run_.runSeed, options, deliver,
                               checkpoint_);
}

int RunSequence::reportWriteFailure(int error) {
  environment_.errors << "nbsim: " << environment_.files.reportFile
                      << ": cannot be written: " << std::strerror(error) << '\n'
                      << std::flush;
  return exitReportFile;
}

}  // namespace nbsim
