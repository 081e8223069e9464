// The steps of start-up.
#include "run/startup.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "code/code_file_reader.h"
#include "engine/source_generator.h"
#include "output/console_writer.h"
#include "run/parameter_file.h"

namespace nbsim {

std::optional<StartedRun> startUp(RunEnvironment& environment, int& status) {
  const RunFiles& files = environment.files;
  const auto refuse = [&](const std::string& why, int exitStatus) {
    environment.errors << "nbsim: " << why << '\n' << std::flush;
    status = exitStatus;
    return std::nullopt;
  };
  std::FILE* parameterFile = std::fopen(files.parameterFile.c_str(), "r");
  if (!parameterFile) {
    return refuse(files.parameterFile + ": cannot be opened: " + std::strerror(errno),
                  exitParameterFile);
  }
  const ParameterFileResult read = readParameterFile(parameterFile, files.parameterFile);
  std::fclose(parameterFile);
  if (!read.parameters) return refuse(read.error, exitParameterFile);
  if (auto why = refuseParameters(*read.parameters, files.parameterFile)) {
    return refuse(*why, exitParameterFile);
  }

  // Runs started within the same second draw the same seed and give the same results.
  SourceGenerator seeder;
  const std::int64_t seedSecond = environment.clock.now().seconds;
  seeder.seed(static_cast<std::uint32_t>(seedSecond));
  const std::int32_t runSeed = seeder.draw();

  const CodeFileResult code = readCodeFile(files.codeFile);
  if (!code.code) {
    if (code.tapOutOfRange) {
      ConsoleWriter::printTapRangeMessage(environment.console);
      environment.keys.waitForKey();
    }
    return refuse(code.error, exitCodeFile);
  }
  status = exitSuccess;
  const RunParameters& parameters = *read.parameters;
  return StartedRun{parameters, runSeed, seedSecond,
                    NonBinaryCodec(*code.code, parameters.Q, parameters.itert)};
}

}  // namespace nbsim
