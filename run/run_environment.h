// What a run talks to, injected so that a test can drive a whole run: the console, the stream
// for failure lines, the clocks, the keyboard, the files and the sweep's settings.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

#include "engine/sweep.h"
#include "run/clock.h"
#include "run/key_reader.h"
#include "run/sweep_progress.h"

namespace nbsim {

// Exit statuses of the program.
enum ExitStatus : int {
  exitSuccess = 0,
  exitParameterFile = 1,  // "param.txt" missing, too short or refused
  exitCodeFile = 2,       // "encoder.txt" missing or unusable
  exitReportFile = 3,     // "result.txt" cannot be opened or written
  exitResultsFile = 4,    // the run completed, but "result.csv", "result.json", "result.svg",
                          // "nbsim.checkpoint" or the console failed
  exitFolderInUse = 5,    // another run is writing its results in the same folder
  exitRunFailed = 6,      // the simulation failed (out of memory, say); the report is kept
  exitNoCheckpoint = 7,   // --resume: the folder holds no run to resume
  exitInputsChanged = 8,  // --resume: "param.txt" or "encoder.txt" no longer say what the run read
  exitCheckpointUnreadable = 9,  // --resume: the checkpoint is damaged or of another version
  exitUsage = 64,         // the command line cannot be understood; nothing was touched
  exitPlotRuns = 65,      // a run that --plot was to draw cannot be read; nothing was drawn
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
  // Held locked by the run that writes the results of its folder.
  std::string lockFile = "nbsim.lock";
  std::string jsonFile = "result.json";
  // What an interrupted run needs to go on (--resume).
  std::string checkpointFile = "nbsim.checkpoint";
};

struct RunEnvironment {
  std::ostream& console;
  std::ostream& errors;
  Clock& clock;           // the wall clock: the seed and the start time
  ElapsedClock& elapsed;  // the run's elapsed time
  KeyReader& keys;
  RunFiles files;
  SweepOptions sweep;
  // The live progress line; none unless it is drawable.
  ProgressOutput progress;
  // The run seed chosen on the command line; none: drawn from the clock's second.
  std::optional<std::int32_t> chosenSeed;
  // Go on with the interrupted run of the folder instead of starting one.
  bool resume = false;
  // The folder as the command line named it (empty: the current one), for the line that says
  // how to resume.
  std::string folder;
  // How often the checkpoint takes the state of the points in progress.
  std::chrono::milliseconds checkpointEvery{2000};
};

// The signal that asked the run to end, or 0.
int receivedSignal(const RunEnvironment& environment);

// Says on the failure stream that `signal` interrupted the run and `what` became of it, and
// returns the interrupted run's status.
int interruption(RunEnvironment& environment, int signal, const std::string& what);

}  // namespace nbsim
