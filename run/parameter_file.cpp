// Reading and checking "param.txt".
#include "run/parameter_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "engine/sweep_points.h"

namespace nbsim {
namespace {

// Consumes characters up to and including the next line feed; false at the end of the file.
bool consumeRestOfLine(std::FILE* file) {
  for (int c = std::fgetc(file); c != '\n'; c = std::fgetc(file)) {
    if (c == EOF) return false;
  }
  return true;
}

// The reason for a file that ends within line `line` of the first six.
std::string endsEarly(const std::string& fileName, int line) {
  return fileName + ": ends within line " + std::to_string(line) +
         "; the first six lines must each end";
}

}  // namespace

ParameterFileResult readParameterFile(std::FILE* file, const std::string& fileName) {
  RunParameters parameters;
  std::int32_t volume = 0;
  // The result of each read is ignored on purpose: an unmatched key leaves its default.
  const auto shortFile = [&](int lines) {
    if (std::ferror(file)) {
      return ParameterFileResult{std::nullopt,
                                 fileName + ": cannot be read: " + std::strerror(errno)};
    }
    return ParameterFileResult{std::nullopt, endsEarly(fileName, lines)};
  };
  (void)std::fscanf(file, "Q=%d", &parameters.Q);
  if (!consumeRestOfLine(file)) return shortFile(1);
  (void)std::fscanf(file, "P0_first=%f", &parameters.P0_first);
  if (!consumeRestOfLine(file)) return shortFile(2);
  (void)std::fscanf(file, "P0_last=%f", &parameters.P0_last);
  if (!consumeRestOfLine(file)) return shortFile(3);
  (void)std::fscanf(file, "P0_step=%f", &parameters.P0_step);
  if (!consumeRestOfLine(file)) return shortFile(4);
  const bool volumeRead = std::fscanf(file, "volume=%d", &volume) == 1;
  if (!consumeRestOfLine(file)) return shortFile(5);
  (void)std::fscanf(file, "minBlockErr=%d", &parameters.minBlockErr);
  if (!consumeRestOfLine(file)) return shortFile(6);
  (void)std::fscanf(file, "itert=%d", &parameters.itert);
  (void)consumeRestOfLine(file);  // the seventh line may end with the file

  if (volumeRead) parameters.volume = static_cast<std::uint32_t>(volume);
  parameters.itert = parameters.itert < 3 ? 3 : std::min(parameters.itert, 10);
  return ParameterFileResult{parameters, {}};
}

ParameterFileResult readParameterText(const std::string& text, const std::string& fileName) {
  // A stream over no byte cannot be made; an empty file ends within its first line.
  if (text.empty()) {
    return ParameterFileResult{std::nullopt, endsEarly(fileName, 1)};
  }
  std::string bytes = text;
  std::FILE* file = fmemopen(bytes.data(), bytes.size(), "r");
  if (file == nullptr) {
    return ParameterFileResult{std::nullopt,
                               fileName + ": cannot be read: " + std::strerror(errno)};
  }
  ParameterFileResult result = readParameterFile(file, fileName);
  std::fclose(file);
  return result;
}

std::optional<std::string> refuseParameters(const RunParameters& parameters,
                                            const std::string& fileName) {
  if (parameters.Q < 2) {
    return fileName + ": Q=" + std::to_string(parameters.Q) + " is below 2";
  }
  // No point is simulated when P0_first < P0_last (or either is not a number): nothing to check.
  if (!(parameters.P0_first >= parameters.P0_last)) return std::nullopt;
  if (parameters.P0_step <= 0.0f) {
    return fileName + ": P0_step must be above 0 for the sweep to end";
  }
  // Walk the sweep's own P0 values: each step must move P0 until the sweep ends. The walk is
  // short: a step moves P0 only while |P0| stays below about 2^25 steps.
  SweepPoints points(parameters);
  float previous = 0.0f;
  points.next(previous);
  for (float P0 = 0.0f; points.next(P0); previous = P0) {
    if (!(P0 < previous)) {
      char value[32];
      std::snprintf(value, sizeof value, "%g", static_cast<double>(previous));
      return fileName + ": P0_step is too small to move P0 below " + value +
             ", so the sweep would never end";
    }
  }
  return std::nullopt;
}

}  // namespace nbsim
