// Reading "param.txt": seven key=value lines in fixed order, each with a default.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "engine/run_parameters.h"

namespace nbsim {

struct ParameterFileResult {
  std::optional<RunParameters> parameters;  // present when the run may go on
  std::string error;                        // otherwise what is wrong, one English sentence
  // What the run will do otherwise than the file seems to say, one English line each, naming
  // the file and the line (readParameterText only).
  std::vector<std::string> warnings;
};

// Reads the seven lines from `file` with C formatted input: each key must match in place (no
// blank skipped before it), a line that does not match keeps its default, and the rest of every
// line is consumed. The end of the file within the first six lines ends the run; a missing line
// end after the seventh is fine. itert is clamped to 3..10. `fileName` names the file in errors.
ParameterFileResult readParameterFile(std::FILE* file, const std::string& fileName);
// The same on the file's whole text, with the warnings: a line that is not its key's (a comment
// on top, blanks around "=", a byte-order mark, a misspelt key, a key without a value), text
// after a number, a number that does not fit in 32 bits, a negative volume, the itert clamp, a
// sweep without a point and points without a block.
ParameterFileResult readParameterText(const std::string& text, const std::string& fileName);

// Refuses parameters that no run can use: Q below 2, or a sweep that would never end (a step
// of 0 or less, or one too small to move the single-precision P0 before the sweep is over).
// Returns the reason, or nothing when the parameters are usable.
std::optional<std::string> refuseParameters(const RunParameters& parameters,
                                            const std::string& fileName);

}  // namespace nbsim
