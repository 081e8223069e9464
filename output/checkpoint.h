// The checkpoint of a run, "nbsim.checkpoint" beside its results: what `nbsim --resume` needs to
// go on with the run exactly where it was cut. Every point restarts the channel from the run seed,
// so a point is known by its counts so far and the draw where its next block starts; the
// checkpoint holds those, the seed and the inputs as the run read them. It is JSON with a
// checksum, so that a file cut short or damaged is refused instead of resumed wrongly.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "code/code_description.h"
#include "engine/point_result.h"
#include "engine/run_parameters.h"

namespace nbsim {

struct Checkpoint {
  std::int32_t runSeed = 0;
  // The clock second that gave the run seed; none for a seed chosen on the command line.
  std::optional<std::int64_t> seedSecond;
  // The wall clock when the run first started.
  std::int64_t startSecond = 0;
  std::int32_t startMillisecond = 0;
  // The inputs as the run read them: the parameters and the code in use.
  RunParameters parameters;
  CodeDescription code;
  // The sweep's time so far, over every sitting of the run.
  std::int64_t elapsedMilliseconds = 0;
  // Every point of the sweep is done and handed on.
  bool complete = false;
  // The points done, and those cut between two blocks, by index.
  ResumePoints points;
};

// The checksum that guards the run part of a checkpoint: FNV-1a over `bytes`, as 16 hexadecimal
// digits.
std::string checkpointChecksum(std::string_view bytes);

// The checkpoint's bytes.
std::string checkpointText(const Checkpoint& checkpoint);

// Reads `text` into `checkpoint`; false with the reason in `error` ("cut short or damaged", or
// "written by an incompatible version ...") when it is not a checkpoint that this build reads.
bool readCheckpoint(std::string_view text, Checkpoint& checkpoint, std::string& error);

// Whether every point of `checkpoint` can be a point of its run for a code of `nk` information
// and `nr` check branches of length `L`: a point of the sweep at its P0, with counts that its
// blocks can give, done only where the stopping rule ends it and cut only where it goes on.
bool pointsHold(const Checkpoint& checkpoint, std::int32_t nk, std::int32_t nr, std::int32_t L);

// The first difference between the inputs that the checkpoint's run read and `parameters` and
// `code` as they read now, in words that name the file ("param.txt: P0_last was 0.02, now 0.01");
// empty when they say the same.
std::string inputChange(const Checkpoint& checkpoint, const RunParameters& parameters,
                        const CodeDescription& code);

}  // namespace nbsim
