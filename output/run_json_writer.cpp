// The run's JSON description, built with nlohmann-json.
#include "output/run_json_writer.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <nlohmann/json.hpp>

#include "output/error_rate_intervals.h"
#include "output/number_format.h"
#include "output/program_version.h"

namespace nbsim {
namespace {

// The keys keep the order they are written in.
using Json = nlohmann::ordered_json;

// The end of the line for a JSON file that fails while the run goes on.
constexpr const char* goesOn = "; the run goes on without it";

// A single-precision input as the number that reads back to it ("0.24", not the double nearest
// the float); JSON has no infinity or not-a-number, so those are strings.
Json floatInput(float value) {
  if (!std::isfinite(value)) return text::formatShortest(value);
  return std::strtod(text::formatShortest(value).c_str(), nullptr);
}

// "2020-12-06T06:27:11.000Z".
std::string utcTime(std::int64_t second, std::int32_t millisecond) {
  const auto time = static_cast<std::time_t>(second);
  std::tm parts{};
  if (gmtime_r(&time, &parts) == nullptr) return text::formatInteger(second);
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", parts.tm_year + 1900,
                parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec,
                static_cast<int>(millisecond));
  return buffer;
}

const char* describe(SweepOutcome outcome) {
  switch (outcome) {
    case SweepOutcome::completed:
      return "completed";
    case SweepOutcome::interrupted:
      return "interrupted";
    case SweepOutcome::refused:
      return "reportFailed";
    case SweepOutcome::failed:
      return "simulationFailed";
  }
  return "unknown";
}

}  // namespace

std::string runJson(const RunDescription& run, std::int64_t points, const RunOutcome* outcome) {
  const RunParameters& parameters = run.parameters;
  const NonBinaryCodec& codec = run.codec;
  Json polynomials = Json::array();
  for (std::int32_t v = 0; v < codec.nr(); ++v) {
    for (std::int32_t i = 0; i < codec.nk(); ++i) {
      polynomials.push_back(Json{{"i", i}, {"v", v}, {"taps", codec.taps(i, v)}});
    }
  }
  Json json;
  json["program"] = "nbsim";
  json["version"] = std::string(programVersion());
  json["seed"] = run.runSeed;
  json["seedClockSecond"] = run.seedSecond ? Json(*run.seedSecond) : Json(nullptr);
  // The inputs as the run read them: volume as the file gives it, only the branches in use.
  json["inputs"]["param.txt"] = Json{{"Q", parameters.Q},
                                     {"P0_first", floatInput(parameters.P0_first)},
                                     {"P0_last", floatInput(parameters.P0_last)},
                                     {"P0_step", floatInput(parameters.P0_step)},
                                     {"volume", parameters.volumeAsRead()},
                                     {"minBlockErr", parameters.minBlockErr},
                                     {"itert", codec.itert()}};
  json["inputs"]["encoder.txt"] =
      Json{{"nk", codec.nk()}, {"nr", codec.nr()}, {"polynomials", polynomials}};
  json["L"] = codec.blockLength();
  json["threads"] = run.threads;
  json["ranks"] = run.ranks;
  json["start"] = utcTime(run.startSecond, run.startMillisecond);
  json["end"] = outcome ? Json(utcTime(outcome->endSecond, outcome->endMillisecond)) : Json();
  json["elapsedMilliseconds"] =
      outcome ? Json(outcome->elapsedSeconds * 1000 + outcome->elapsedMilliseconds) : Json();
  json["outcome"] = outcome ? describe(outcome->sweep) : "running";
  json["points"] = points;
  json["table"] = "result.csv";
  json["intervals"] = Json{{"confidence", intervalConfidence},
                           {"FER", "Clopper-Pearson over blocks"},
                           {"SER", "gamma over the blocks' symbol error counts"}};
  return json.dump(2) + "\n";
}

bool RunJsonWriter::start(const RunDescription& run) {
  run_.emplace(run);
  return true;
}

bool RunJsonWriter::point(const PointResult&) {
  ++points_;
  if (run_) file_.replace(runJson(*run_, points_, nullptr), goesOn);
  return true;
}

void RunJsonWriter::finish(const RunOutcome& outcome) {
  // A run whose report failed before its first point leaves an earlier file alone.
  if (!run_ || (outcome.sweep == SweepOutcome::refused && points_ == 0)) return;
  file_.replace(runJson(*run_, points_, &outcome), goesOn);
}

}  // namespace nbsim
