// What a run talks to, injected so that a test can drive a whole run: the console, the stream
// for failure lines, the clocks, the keyboard, the files and the sweep's settings.
#pragma once

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

struct RunEnvironment {
  std::ostream& console;
  std::ostream& errors;
  Clock& clock;
  KeyReader& keys;
  RunFiles files;
  SweepOptions sweep;
  // The live progress line; none unless it is drawable.
  ProgressOutput progress;
};

}  // namespace nbsim
