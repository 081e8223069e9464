// The steps of start-up.
#include "run/startup.h"

#include <string>

#include "code/code_file_reader.h"
#include "engine/source_generator.h"
#include "output/console_writer.h"
#include "run/input_file.h"
#include "run/parameter_file.h"

namespace nbsim {
namespace {

// The input surprises, one line each on the failure stream; the console and the files never
// show them.
void warn(RunEnvironment& environment, const std::vector<std::string>& warnings) {
  for (const std::string& warning : warnings) environment.errors << "nbsim: " << warning << '\n';
  environment.errors << std::flush;
}

}  // namespace

std::optional<StartedRun> startUp(RunEnvironment& environment, int& status) {
  const RunFiles& files = environment.files;
  const auto refuse = [&](const std::string& why, int exitStatus) {
    environment.errors << "nbsim: " << why << '\n' << std::flush;
    status = exitStatus;
    return std::nullopt;
  };
  const auto interrupted = [&] {
    status = interruption(environment, receivedSignal(environment),
                          files.reportFile + " was not touched");
    return std::nullopt;
  };
  const InputFile parameterFile =
      readInputFile(files.parameterFile, largestInputFile, environment.sweep.interrupt);
  if (parameterFile.interrupted) return interrupted();
  if (!parameterFile.bytes) return refuse(parameterFile.error, exitParameterFile);
  const ParameterFileResult read = readParameterText(*parameterFile.bytes, files.parameterFile);
  warn(environment, read.warnings);
  if (!read.parameters) return refuse(read.error, exitParameterFile);
  if (auto why = refuseParameters(*read.parameters, files.parameterFile)) {
    return refuse(*why, exitParameterFile);
  }

  // Runs started within the same second draw the same seed and give the same results; a seed
  // chosen on the command line repeats the run that drew it.
  std::optional<std::int64_t> seedSecond;
  std::int32_t runSeed = 0;
  if (environment.chosenSeed) {
    runSeed = *environment.chosenSeed;
  } else {
    SourceGenerator seeder;
    seedSecond = environment.clock.now().seconds;
    seeder.seed(static_cast<std::uint32_t>(*seedSecond));
    runSeed = seeder.draw();
  }

  const InputFile codeFile =
      readInputFile(files.codeFile, largestInputFile, environment.sweep.interrupt);
  if (codeFile.interrupted) return interrupted();
  if (!codeFile.bytes) return refuse(codeFile.error, exitCodeFile);
  const CodeFileResult code = parseCodeDescription(*codeFile.bytes, files.codeFile);
  warn(environment, code.warnings);
  if (!code.code) {
    if (code.tapOutOfRange) {
      ConsoleWriter::printTapRangeMessage(environment.console);
      environment.keys.waitForKey();
    }
    return refuse(code.error, exitCodeFile);
  }
  // A signal during start-up ends the run before the report is touched.
  if (receivedSignal(environment) != 0) return interrupted();
  status = exitSuccess;
  const RunParameters& parameters = *read.parameters;
  return StartedRun{parameters, runSeed, seedSecond,
                    NonBinaryCodec(*code.code, parameters.Q, parameters.itert)};
}

}  // namespace nbsim
