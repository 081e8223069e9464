// The run sequence: start-up, sweep, point simulation, timing and shutdown.
#include "run/run_sequence.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <optional>

#include "channel/qary_symmetric_channel.h"
#include "code/error_pattern_decoder.h"
#include "run/fast_point_simulator.h"
#include "run/interrupt_signals.h"
#include "run/parallel_sweep.h"
#include "run/report_writers.h"
#include "run/results_files.h"
#include "run/source_generator.h"
#include "run/sweep_points.h"

namespace nbsim {

SweepOutcome RunSequence::sweepErrorProbability() {
  std::optional<SweepProgress> progress;
  if (options_.progress.drawable()) {
    progress.emplace(options_.progress, options_.threads, parameters_.volume,
                     parameters_.minBlockErr);
    progress->startTicking();
    progress_ = &*progress;
  }
  const SweepOutcome outcome =
      options_.fast && ErrorPatternDecoder::supports(codec_) ? sweepFast() : sweepReference();
  // The line is erased when `progress` ends, before anything more reaches the terminal.
  progress_ = nullptr;
  return outcome;
}

SweepOutcome RunSequence::sweepReference() {
  SweepPoints points(parameters_);
  PointResult point;
  PointProgress* slot = progress_ ? &progress_->slot(0) : nullptr;
  for (std::int64_t index = 0; points.next(point.P0); ++index) {
    // The plain path looks at an interrupt between points only.
    if (options_.interrupt && options_.interrupt->load() != 0) return SweepOutcome::interrupted;
    if (slot) progress_->startPoint(*slot, index, point.P0);
    point.ser = simulatePoint(point.P0, point.counters, slot);
    point.stats = codec_.stats();
    if (!reportPoint(point)) return SweepOutcome::reportFailed;
  }
  return SweepOutcome::completed;
}

SweepOutcome RunSequence::sweepFast() {
  DrawStreamCache cache(channel_.seed(), options_.chunkSize, options_.chunkCount);
  SweepPoints points(parameters_);
  const StopRequest stop{nullptr, options_.interrupt};
  if (options_.threads <= 1) {
    FastPointSimulator simulator(parameters_, codec_, cache);
    PointResult point;
    PointProgress* slot = progress_ ? &progress_->slot(0) : nullptr;
    for (std::int64_t index = 0; points.next(point.P0); ++index) {
      if (slot) progress_->startPoint(*slot, index, point.P0);
      if (!simulator.simulate(point.P0, point, stop, slot)) return SweepOutcome::interrupted;
      if (!reportPoint(point)) return SweepOutcome::reportFailed;
    }
    return SweepOutcome::completed;
  }
  ParallelSweep sweep(options_.threads);
  bool reportFailed = false;
  const bool completed = sweep.run(
      points, ParallelSweep::fastSimulators(parameters_, codec_, cache, progress_),
      [&](const PointResult& point) {
        reportFailed = !reportPoint(point);
        return !reportFailed;
      },
      options_.interrupt);
  if (reportFailed) return SweepOutcome::reportFailed;
  return completed ? SweepOutcome::completed : SweepOutcome::interrupted;
}

bool RunSequence::reportPoint(const PointResult& point) {
  // The console line takes the place of the progress line, which stays away until the line is
  // out; it then follows the next point, the one the console waits for now.
  if (progress_) progress_->suspend();
  channel_.setErrorProbability(point.P0);
  writePointReport(report_, console_, point.P0, channel_, point.stats, point.counters.blocks,
                   point.counters.infoSymbols, point.counters.blockErrors,
                   static_cast<float>(point.ser));
  runInfoSymbols_ += point.counters.infoSymbols;
  if (!report_.good()) return false;
  ++pointsReported_;
  for (PointReporter* reporter : reporters_) reporter->reportPoint(point);
  if (progress_) progress_->watch(pointsReported_);
  return true;
}

double RunSequence::simulatePoint(float P0, PointCounters& counters, PointProgress* progress) {
  codec_.resetStats();
  channel_.reseed();
  channel_.setErrorProbability(P0);
  std::int32_t nk = 0;
  std::int32_t nr = 0;
  codec_.branchCounts(nk, nr);
  const std::int32_t L = codec_.blockLength();
  const std::int32_t Q = codec_.alphabetSize();
  counters = PointCounters{};

  // The block arrays live for the point; nothing is allocated per block.
  const std::vector<Symbol> branch(static_cast<std::size_t>(L), 0);
  BranchTable source(nk, branch);
  BranchTable received(nk, branch);
  BranchTable decoded(nk, branch);
  BranchTable checks(nr, branch);
  BranchTable receivedChecks(nr, branch);

  // Every point sees the same information blocks.
  SourceGenerator sourceGenerator;
  sourceGenerator.seed(0);
  const std::int64_t symbolsPerBlock = static_cast<std::int64_t>(nk) * L;

  if (parameters_.minBlockErr > 0) {
    do {
      // The volume test stands before the block, the block-error test after it.
      if (counters.infoSymbols >= static_cast<std::int64_t>(parameters_.volume)) break;
      for (auto& info : source) {
        for (Symbol& symbol : info) symbol = sourceGenerator.draw() & (Q - 1);
      }
      codec_.encode(source, checks);
      for (std::int32_t i = 0; i < nk; ++i)
        channel_.transmit(source[i].data(), received[i].data(), L);
      for (std::int32_t v = 0; v < nr; ++v) {
        channel_.transmit(checks[v].data(), receivedChecks[v].data(), L);
      }
      codec_.decode(source, received, receivedChecks, decoded);
      counters.infoSymbols += symbolsPerBlock;
      std::int64_t wrong = 0;
      for (std::int32_t i = 0; i < nk; ++i) {
        for (std::int32_t j = 0; j < L; ++j) wrong += decoded[i][j] != source[i][j];
      }
      counters.symbolErrors += wrong;
      if (wrong > 0) ++counters.blockErrors;
      ++counters.blocks;
      if (progress) progress->publish(counters);
    } while (counters.blockErrors < parameters_.minBlockErr);
  }
  // At least one error is counted in the rate, so that it is never 0; the counter stays true.
  const std::int64_t counted = std::max<std::int64_t>(counters.symbolErrors, 1);
  return static_cast<double>(counted) / static_cast<double>(counters.infoSymbols);
}

namespace {

struct StartedRun {
  RunParameters parameters;
  std::int32_t runSeed = 0;
  std::int64_t seedSecond = 0;  // the clock second that seeded the run seed
  std::unique_ptr<NonBinaryCodec> codec;
};

// Reads the parameters, draws the run seed and builds the codec. On failure prints one line on
// `errors` and returns its exit status through `status`.
std::unique_ptr<StartedRun> startUp(RunEnvironment& environment, int& status) {
  const RunFiles& files = environment.files;
  const auto refuse = [&](const std::string& why, int exitStatus) {
    environment.errors << "nbsim: " << why << '\n' << std::flush;
    status = exitStatus;
    return nullptr;
  };
  std::FILE* parameterFile = std::fopen(files.parameterFile.c_str(), "r");
  if (!parameterFile) {
    return refuse(files.parameterFile + ": cannot be opened: " + std::strerror(errno),
                  exitParameterFile);
  }
  ParameterFileResult read = readParameterFile(parameterFile, files.parameterFile);
  std::fclose(parameterFile);
  if (!read.parameters) return refuse(read.error, exitParameterFile);
  if (auto why = refuseParameters(*read.parameters, files.parameterFile)) {
    return refuse(*why, exitParameterFile);
  }

  auto started = std::make_unique<StartedRun>();
  started->parameters = *read.parameters;
  // Runs started within the same second draw the same seed and give the same results.
  SourceGenerator seeder;
  started->seedSecond = environment.clock.now().seconds;
  seeder.seed(static_cast<std::uint32_t>(started->seedSecond));
  started->runSeed = seeder.draw();

  std::string error;
  started->codec = loadCodeFile(
      files.codeFile, started->parameters.itert, environment.console,
      [&environment] { environment.keys.waitForKey(); }, error);
  if (!started->codec) return refuse(error, exitCodeFile);
  status = exitSuccess;
  return started;
}

}  // namespace

namespace {

// The line for a report that could not be written, and its status.
int reportWriteFailure(RunEnvironment& environment, int error) {
  environment.errors << "nbsim: " << environment.files.reportFile
                     << ": cannot be written: " << std::strerror(error) << '\n'
                     << std::flush;
  return exitReportFile;
}

// The line for an interrupted run, and its status.
int interruption(RunEnvironment& environment, int signal, const std::string& what) {
  environment.errors << "nbsim: interrupted by " << signalName(signal) << "; " << what << '\n'
                     << std::flush;
  return exitInterruptedBase + signal;
}

int receivedSignal(const RunEnvironment& environment) {
  return environment.sweep.interrupt ? environment.sweep.interrupt->load() : 0;
}

}  // namespace

int runProgram(RunEnvironment& environment) {
  int status = exitSuccess;
  std::unique_ptr<StartedRun> started = startUp(environment, status);
  if (!started) return status;
  if (const int signal = receivedSignal(environment)) {
    return interruption(environment, signal, environment.files.reportFile + " was not touched");
  }
  const RunParameters& parameters = started->parameters;
  std::unique_ptr<NonBinaryCodec> codec = std::move(started->codec);

  codec->resetStats();
  codec->setAlphabetSize(parameters.Q);
  auto channel = std::make_unique<QarySymmetricChannel>();
  channel->setAlphabetSize(parameters.Q);
  channel->setSeed(started->runSeed);
  channel->setErrorProbability(parameters.P0_first);
  channel->reseed();

  std::ofstream reportFile(environment.files.reportFile,
                           std::ios::out | std::ios::binary | std::ios::trunc);
  if (!reportFile) {
    environment.errors << "nbsim: " << environment.files.reportFile
                       << ": cannot be opened for writing: " << std::strerror(errno) << '\n'
                       << std::flush;
    return exitReportFile;
  }
  text::ReportStream report(reportFile);
  ResultsFiles results(environment.files.csvFile, environment.files.plotFile, environment.errors);
  results.start(parameters, *codec, started->runSeed, started->seedSecond);
  writeParameterHeader(report, environment.console, parameters);
  // A report that cannot take its header takes no point either: nothing is simulated.
  if (!report.good()) return reportWriteFailure(environment, report.failure());
  channel->writeDescription(report);
  codec->writeCodeDescription(report);

  const ClockReading start = environment.clock.now();
  printStartTime(environment.console, start);
  RunSequence sequence(parameters, *codec, *channel, report, environment.console,
                       environment.sweep);
  sequence.addReporter(results);
  const SweepOutcome outcome = sequence.sweepErrorProbability();
  if (outcome == SweepOutcome::reportFailed) {
    return reportWriteFailure(environment, report.failure());
  }
  // The plot shows the points that the report holds, also those of an interrupted sweep.
  results.writePlot();
  if (outcome == SweepOutcome::interrupted) {
    return interruption(environment, receivedSignal(environment),
                        environment.files.reportFile + " holds the " +
                            std::to_string(sequence.pointsReported()) + " completed points");
  }
  const ClockReading end = environment.clock.now();

  std::int64_t seconds = end.seconds - start.seconds;
  std::int32_t milliseconds = end.milliseconds - start.milliseconds;
  if (milliseconds < 0) {
    seconds -= 1;
    milliseconds += 1000;
  }
  const double speed = static_cast<double>(sequence.runInfoSymbols()) /
                       (milliseconds * 0.001 + static_cast<double>(seconds)) * 0.001;
  printRunTiming(environment.console, seconds, milliseconds, speed);

  channel.reset();
  codec.reset();
  // The buffered end of the report (all of it when the sweep had no point) reaches the file
  // here; a failure is the last chance to say that the report is incomplete.
  report.flush();
  reportFile.close();
  if (!report.good() || reportFile.fail()) {
    return reportWriteFailure(environment, report.failure() != 0 ? report.failure() : EIO);
  }
  printClosingPrompt(environment.console);
  environment.keys.waitForKey();
  if (const int signal = receivedSignal(environment)) {
    return interruption(environment, signal, "the run was complete");
  }
  return results.failed() ? exitResultsFile : exitSuccess;
}

}  // namespace nbsim
