// The checkpoint's JSON, built and read with nlohmann-json.
#include "output/checkpoint.h"

#include <bit>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "engine/sweep_points.h"
#include "output/number_format.h"
#include "output/program_version.h"

namespace nbsim {
namespace {

// Keys sorted, so that the same run always dumps to the same bytes, which the checksum covers.
using Json = nlohmann::json;

// The layout of the checkpoint; a build reads only its own.
constexpr std::int64_t checkpointFormat = 1;

// Single-precision values by their bits: exact, and not-a-number too, which JSON lacks.
std::uint32_t bitsOf(float value) { return std::bit_cast<std::uint32_t>(value); }
float floatOf(const Json& bits) { return std::bit_cast<float>(bits.get<std::uint32_t>()); }

Json pointJson(std::int64_t index, const PointState& state) {
  const PointCounters& counters = state.result.counters;
  return Json{{"index", index},
              {"P0", bitsOf(state.result.P0)},
              {"done", state.done},
              {"nextDraw", state.nextDraw},
              {"blocks", counters.blocks},
              {"blockErrors", counters.blockErrors},
              {"infoSymbols", counters.infoSymbols},
              {"symbolErrors", counters.symbolErrors},
              {"squaredSymbolErrors", counters.squaredSymbolErrors},
              {"errors", state.result.stats.errors},
              {"decodedSymbols", state.result.stats.decodedSymbols}};
}

// False when the point's numbers cannot be a point of `parameters`' run.
bool readPoint(const Json& json, const RunParameters& parameters, std::int64_t& index,
               PointState& state) {
  index = json.at("index").get<std::int64_t>();
  state.done = json.at("done").get<bool>();
  state.nextDraw = json.at("nextDraw").get<std::int64_t>();
  PointResult& result = state.result;
  result.P0 = floatOf(json.at("P0"));
  PointCounters& counters = result.counters;
  counters.blocks = json.at("blocks").get<std::int64_t>();
  counters.blockErrors = json.at("blockErrors").get<std::int32_t>();
  counters.infoSymbols = json.at("infoSymbols").get<std::int64_t>();
  counters.symbolErrors = json.at("symbolErrors").get<std::int64_t>();
  counters.squaredSymbolErrors = json.at("squaredSymbolErrors").get<std::int64_t>();
  result.stats.errors = json.at("errors").get<std::vector<std::int64_t>>();
  result.stats.decodedSymbols = json.at("decodedSymbols").get<std::int64_t>();
  result.ser = symbolErrorRate(counters);
  // The decoder adds to one count per iteration; a point goes on only from a count of them.
  return index >= 0 && state.nextDraw >= 0 && counters.blocks >= 0 && counters.blockErrors >= 0 &&
         counters.infoSymbols >= 0 && counters.symbolErrors >= 0 &&
         result.stats.errors.size() == static_cast<std::size_t>(parameters.itert) + 1;
}

}  // namespace

std::string checkpointChecksum(std::string_view bytes) {
  std::uint64_t hash = 14695981039346656037u;
  for (const char byte : bytes) {
    hash ^= static_cast<unsigned char>(byte);
    hash *= 1099511628211u;
  }
  char digits[17];
  std::snprintf(digits, sizeof digits, "%016llx", static_cast<unsigned long long>(hash));
  return digits;
}

std::string checkpointText(const Checkpoint& checkpoint) {
  const RunParameters& parameters = checkpoint.parameters;
  Json run;
  run["seed"] = checkpoint.runSeed;
  run["seedClockSecond"] = checkpoint.seedSecond ? Json(*checkpoint.seedSecond) : Json(nullptr);
  run["startSecond"] = checkpoint.startSecond;
  run["startMillisecond"] = checkpoint.startMillisecond;
  run["elapsedMilliseconds"] = checkpoint.elapsedMilliseconds;
  run["complete"] = checkpoint.complete;
  run["parameters"] = Json{{"Q", parameters.Q},
                           {"P0_first", bitsOf(parameters.P0_first)},
                           {"P0_last", bitsOf(parameters.P0_last)},
                           {"P0_step", bitsOf(parameters.P0_step)},
                           {"volume", parameters.volume},
                           {"minBlockErr", parameters.minBlockErr},
                           {"itert", parameters.itert}};
  const CodeDescription& code = checkpoint.code;
  Json taps = Json::array();
  for (std::int32_t i = 0; i < code.nk; ++i) {
    for (std::int32_t v = 0; v < code.nr; ++v) taps.push_back(code.polynomials[i][v].taps);
  }
  run["code"] = Json{{"nk", code.nk}, {"nr", code.nr}, {"taps", taps}};
  Json points = Json::array();
  for (const auto& [index, state] : checkpoint.points) points.push_back(pointJson(index, state));
  run["points"] = std::move(points);

  // The run is dumped once: the file is its bytes with the keys around them, in the order that
  // a dump of the whole would give.
  const std::string runText = run.dump();
  const Json head{{"checksum", checkpointChecksum(runText)},
                  {"format", checkpointFormat},
                  {"program", "nbsim " + std::string(programVersion())}};
  std::string text = head.dump();
  text.back() = ',';
  return text + "\"run\":" + runText + "}\n";
}

bool readCheckpoint(std::string_view text, Checkpoint& checkpoint, std::string& error) {
  const std::string damaged = "it is cut short or damaged";
  const Json file = Json::parse(text.begin(), text.end(), nullptr, false);
  if (file.is_discarded() || !file.is_object()) {
    error = damaged;
    return false;
  }
  const auto format = file.find("format");
  if (format == file.end() || !format->is_number_integer()) {
    error = damaged;
    return false;
  }
  if (format->get<std::int64_t>() != checkpointFormat) {
    const auto program = file.find("program");
    error = "it was written by " +
            (program != file.end() && program->is_string() ? program->get<std::string>()
                                                           : std::string("another nbsim")) +
            ", whose checkpoints this nbsim " + std::string(programVersion()) + " cannot read";
    return false;
  }
  const auto run = file.find("run");
  const auto sum = file.find("checksum");
  if (run == file.end() || sum == file.end() || !sum->is_string() ||
      sum->get<std::string>() != checkpointChecksum(run->dump())) {
    error = damaged;
    return false;
  }
  try {
    Checkpoint read;
    read.runSeed = run->at("seed").get<std::int32_t>();
    const Json& second = run->at("seedClockSecond");
    if (!second.is_null()) read.seedSecond = second.get<std::int64_t>();
    read.startSecond = run->at("startSecond").get<std::int64_t>();
    read.startMillisecond = run->at("startMillisecond").get<std::int32_t>();
    read.elapsedMilliseconds = run->at("elapsedMilliseconds").get<std::int64_t>();
    read.complete = run->at("complete").get<bool>();
    const Json& parameters = run->at("parameters");
    read.parameters.Q = parameters.at("Q").get<std::int32_t>();
    read.parameters.P0_first = floatOf(parameters.at("P0_first"));
    read.parameters.P0_last = floatOf(parameters.at("P0_last"));
    read.parameters.P0_step = floatOf(parameters.at("P0_step"));
    read.parameters.volume = parameters.at("volume").get<std::uint64_t>();
    read.parameters.minBlockErr = parameters.at("minBlockErr").get<std::int32_t>();
    read.parameters.itert = parameters.at("itert").get<std::int32_t>();
    const Json& code = run->at("code");
    read.code.nk = code.at("nk").get<std::int32_t>();
    read.code.nr = code.at("nr").get<std::int32_t>();
    const Json& taps = code.at("taps");
    const std::int32_t most = CodeDescription::maxUsedBranches;
    if (read.code.nk < 1 || read.code.nk > most || read.code.nr < 1 || read.code.nr > most ||
        !taps.is_array() || taps.size() != static_cast<std::size_t>(read.code.nk * read.code.nr)) {
      error = damaged;
      return false;
    }
    for (std::int32_t i = 0; i < read.code.nk; ++i) {
      for (std::int32_t v = 0; v < read.code.nr; ++v) {
        read.code.polynomials[i][v].taps = taps.at(static_cast<std::size_t>(i * read.code.nr + v))
                                               .get<std::vector<std::int32_t>>();
      }
    }
    for (const Json& point : run->at("points")) {
      std::int64_t index = 0;
      PointState state;
      if (!readPoint(point, read.parameters, index, state)) {
        error = damaged;
        return false;
      }
      read.points[index] = std::move(state);
    }
    checkpoint = std::move(read);
    return true;
  } catch (const Json::exception&) {
    error = damaged;
    return false;
  }
}

bool pointsHold(const Checkpoint& checkpoint, std::int32_t nk, std::int32_t nr, std::int32_t L) {
  const RunParameters& parameters = checkpoint.parameters;
  const auto symbolsPerBlock = static_cast<std::int64_t>(nk) * L;
  const auto channelSymbolsPerBlock = static_cast<std::int64_t>(nk + nr) * L;
  const auto volume = static_cast<std::int64_t>(parameters.volume);
  SweepPoints sweep(parameters);
  std::int64_t swept = 0;  // the sweep's points passed so far
  float P0 = 0.0f;
  for (const auto& [index, state] : checkpoint.points) {
    // The points are in index order, and the sweep has an end.
    while (swept <= index) {
      if (!sweep.next(P0)) return false;
      ++swept;
    }
    const PointResult& result = state.result;
    const PointCounters& counters = result.counters;
    if (bitsOf(result.P0) != bitsOf(P0) || counters.blocks > volume / symbolsPerBlock + 1 ||
        counters.infoSymbols != counters.blocks * symbolsPerBlock ||
        counters.blockErrors > counters.blocks || counters.symbolErrors > counters.infoSymbols ||
        counters.squaredSymbolErrors < counters.symbolErrors ||
        counters.squaredSymbolErrors > counters.symbolErrors * symbolsPerBlock ||
        result.stats.decodedSymbols != counters.infoSymbols) {
      return false;
    }
    for (const std::int64_t errors : result.stats.errors) {
      if (errors < 0 || errors > result.stats.decodedSymbols) return false;
    }
    const bool ended = parameters.minBlockErr <= 0 || counters.infoSymbols >= volume ||
                       counters.blockErrors >= parameters.minBlockErr;
    // Each channel symbol takes one draw, or two when it is corrupted.
    const std::int64_t fewest = counters.blocks * channelSymbolsPerBlock;
    if (ended != state.done ||
        (!state.done && (state.nextDraw < fewest || state.nextDraw > 2 * fewest))) {
      return false;
    }
  }
  return true;
}

std::string inputChange(const Checkpoint& checkpoint, const RunParameters& parameters,
                        const CodeDescription& code) {
  const RunParameters& then = checkpoint.parameters;
  using text::formatInteger;
  using text::formatShortest;
  const auto changed = [](const std::string& key, const std::string& was, const std::string& now) {
    return "param.txt: " + key + " was " + was + ", now " + now;
  };
  if (then.Q != parameters.Q) {
    return changed("Q", formatInteger(then.Q), formatInteger(parameters.Q));
  }
  const std::pair<const char*, float RunParameters::*> probabilities[] = {
      {"P0_first", &RunParameters::P0_first},
      {"P0_last", &RunParameters::P0_last},
      {"P0_step", &RunParameters::P0_step}};
  for (const auto& [key, field] : probabilities) {
    if (bitsOf(then.*field) != bitsOf(parameters.*field)) {
      return changed(key, formatShortest(then.*field), formatShortest(parameters.*field));
    }
  }
  if (then.volume != parameters.volume) {
    return changed("volume", formatInteger(then.volumeAsRead()),
                   formatInteger(parameters.volumeAsRead()));
  }
  if (then.minBlockErr != parameters.minBlockErr) {
    return changed("minBlockErr", formatInteger(then.minBlockErr),
                   formatInteger(parameters.minBlockErr));
  }
  if (then.itert != parameters.itert) {
    return changed("itert", formatInteger(then.itert), formatInteger(parameters.itert));
  }
  const CodeDescription& was = checkpoint.code;
  if (was.nk != code.nk || was.nr != code.nr) {
    return "encoder.txt: the code had nk=" + formatInteger(was.nk) +
           " nr=" + formatInteger(was.nr) + ", now nk=" + formatInteger(code.nk) +
           " nr=" + formatInteger(code.nr);
  }
  for (std::int32_t i = 0; i < code.nk; ++i) {
    for (std::int32_t v = 0; v < code.nr; ++v) {
      if (was.polynomials[i][v].taps != code.polynomials[i][v].taps) {
        return "encoder.txt: polynomial i=" + formatInteger(i) + " v=" + formatInteger(v) +
               " has other taps than the run's";
      }
    }
  }
  return {};
}

}  // namespace nbsim
