// Start-up: reads the parameters, draws the run seed from the clock's second (unless the command
// line chose it) and builds the code
// from the code description. Nothing here touches "result.txt".
#pragma once

#include <cstdint>
#include <optional>

#include "code/nonbinary_codec.h"
#include "engine/run_parameters.h"
#include "run/run_environment.h"

namespace nbsim {

struct StartedRun {
  RunParameters parameters;
  std::int32_t runSeed = 0;
  // The clock second that seeded the run seed; none for a seed chosen on the command line.
  std::optional<std::int64_t> seedSecond;
  NonBinaryCodec codec;
};

// The started run; on failure nothing, with one line on the environment's failure stream and
// the exit status in `status`. A tap of 1000 or more also prints its message on the console and
// waits for a key.
std::optional<StartedRun> startUp(RunEnvironment& environment, int& status);

}  // namespace nbsim
