// The run parameters of "param.txt": seven key=value lines in fixed order, each with a default.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

namespace nbsim {

struct RunParameters {
  std::int32_t Q = 256;
  float P0_first = 0.24f;  // first (largest) channel symbol error probability
  float P0_last = 0.02f;   // the sweep goes on while P0 stays at or above this
  float P0_step = 0.002f;
  // Information symbols after which a point stops. The file gives a 32-bit signed value that
  // fills the low 32 bits, so -1 means 4294967295.
  std::uint64_t volume = 1000000;
  std::int32_t minBlockErr = 100;  // block errors after which a point stops
  std::int32_t itert = 10;         // decoder iterations, clamped to 3..10

  // volume as read from the file: its low 32 bits as a signed value.
  std::int32_t volumeAsRead() const {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(volume));
  }
};

struct ParameterFileResult {
  std::optional<RunParameters> parameters;  // present when the run may go on
  std::string error;                        // otherwise what is wrong, one English sentence
};

// Reads the seven lines from `file` with C formatted input: each key must match in place (no
// blank skipped before it), a line that does not match keeps its default, and the rest of every
// line is consumed. The end of the file within the first six lines ends the run; a missing line
// end after the seventh is fine. itert is clamped to 3..10. `fileName` names the file in errors.
ParameterFileResult readParameterFile(std::FILE* file, const std::string& fileName);

// Refuses parameters that no run can use: Q below 2, or a sweep that would never end (a step
// of 0 or less, or one too small to move the single-precision P0 before the sweep is over).
// Returns the reason, or nothing when the parameters are usable.
std::optional<std::string> refuseParameters(const RunParameters& parameters,
                                            const std::string& fileName);

}  // namespace nbsim
