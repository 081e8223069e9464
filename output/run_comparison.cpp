// Reading runs back from their folders and drawing them together.
#include "output/run_comparison.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "output/csv_table.h"
#include "output/number_format.h"
#include "output/svg_plot.h"

namespace nbsim {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;
using text::formatInteger;

// Larger files are no results of this program.
constexpr std::uintmax_t largestFile = 64u << 20;

// A run as read back: its legend entry and its points.
struct ReadRun {
  std::string label;
  std::string detail;
  std::string tip;
  std::vector<PlottedPoint> points;
};

// The bytes of `path`; false with the reason in `error`.
bool readFile(const fs::path& path, std::string& bytes, std::string& error) {
  std::error_code code;
  if (fs::is_directory(path, code)) {
    error = "is a directory";
    return false;
  }
  const std::uintmax_t size = fs::file_size(path, code);
  if (!code && size > largestFile) {
    error = "is larger than " + std::to_string(largestFile) + " bytes";
    return false;
  }
  errno = 0;
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  if (in) content << in.rdbuf();
  if (!in || in.bad()) {
    error = std::string("cannot be read: ") + std::strerror(errno != 0 ? errno : EIO);
    return false;
  }
  bytes = content.str();
  return true;
}

// The integer at `key` of `object`; false when it is missing or no integer.
bool integerAt(const Json& object, const char* key, std::int64_t& value) {
  if (!object.is_object() || !object.contains(key) || !object[key].is_number_integer()) {
    return false;
  }
  value = object[key].get<std::int64_t>();
  return true;
}

// The legend entry of the run described by `json`; false with the reason in `error`.
bool readDescription(const std::string& bytes, const fs::path& folder, ReadRun& run,
                     std::string& error) {
  const Json json = Json::parse(bytes, nullptr, false);
  if (json.is_discarded() || !json.is_object()) {
    error = "is not JSON text";
    return false;
  }
  const Json none;
  const Json& inputs = json.contains("inputs") ? json["inputs"] : none;
  const Json& parameters =
      inputs.is_object() && inputs.contains("param.txt") ? inputs["param.txt"] : none;
  const Json& code =
      inputs.is_object() && inputs.contains("encoder.txt") ? inputs["encoder.txt"] : none;
  std::int64_t Q = 0, nk = 0, nr = 0, L = 0, itert = 0, seed = 0;
  if (!integerAt(parameters, "Q", Q) || !integerAt(parameters, "itert", itert) ||
      !integerAt(code, "nk", nk) || !integerAt(code, "nr", nr) || !integerAt(json, "L", L) ||
      !integerAt(json, "seed", seed) || !code.contains("polynomials") ||
      !code["polynomials"].is_array()) {
    error = "does not describe a run (Q, itert, nk, nr, the polynomials, L or the seed is missing)";
    return false;
  }
  run.label = "Q=" + formatInteger(Q) + ", nk=" + formatInteger(nk) + ", nr=" + formatInteger(nr) +
              ", L=" + formatInteger(L);
  std::string taps;
  for (const Json& polynomial : code["polynomials"]) {
    if (!polynomial.is_object() || !polynomial.contains("taps") || !polynomial["taps"].is_array()) {
      error = "has a polynomial without taps";
      return false;
    }
    if (!taps.empty()) taps += "; ";
    if (nk * nr > 1) {
      std::int64_t i = 0, v = 0;
      integerAt(polynomial, "i", i);
      integerAt(polynomial, "v", v);
      taps += "i" + formatInteger(i) + "v" + formatInteger(v) + ":";
    }
    for (const Json& tap : polynomial["taps"]) {
      if (!tap.is_number_integer()) {
        error = "has a tap that is no integer";
        return false;
      }
      if (!taps.empty() && taps.back() != ':') taps += ' ';
      taps += formatInteger(tap.get<std::int64_t>());
    }
  }
  // The taps in full when hovered; in the legend as many as fit.
  constexpr std::size_t room = 36;
  run.detail = "taps " + (taps.size() > room ? taps.substr(0, room - 3) + "..." : taps);
  run.tip = folder.string() + ": Q=" + formatInteger(Q) + ", nk=" + formatInteger(nk) +
            ", nr=" + formatInteger(nr) + ", L=" + formatInteger(L) +
            ", itert=" + formatInteger(itert) + ", run seed " + formatInteger(seed) + ", taps " +
            taps;
  return true;
}

// The points of the run's table; false with the reason in `error`.
bool readPoints(const std::string& bytes, ReadRun& run, std::string& error) {
  CsvTable table;
  if (!readCsvTable(bytes, table, error)) return false;
  const char* const names[] = {"P0",       "SER",      "SERLower",     "SERUpper",    "FER",
                               "FERLower", "FERUpper", "symbolErrors", "blockErrors", "errorRate0"};
  int columns[std::size(names)];
  for (std::size_t k = 0; k < std::size(names); ++k) {
    columns[k] = table.column(names[k]);
    if (columns[k] < 0) {
      error = std::string("has no column ") + names[k];
      return false;
    }
  }
  for (std::size_t r = 0; r < table.rows.size(); ++r) {
    double values[std::size(names)];
    for (std::size_t k = 0; k < std::size(names); ++k) {
      const std::string& field = table.rows[r][static_cast<std::size_t>(columns[k])];
      char* end = nullptr;
      values[k] = std::strtod(field.c_str(), &end);
      if (field.empty() || *end != '\0') {
        error = "record " + std::to_string(r + 2) + ": " + names[k] + " is not a number: " + field;
        return false;
      }
    }
    PlottedPoint point;
    point.P0 = values[0];
    point.ser = values[1];
    point.serLower = values[2];
    point.serUpper = values[3];
    point.fer = values[4];
    point.ferLower = values[5];
    point.ferUpper = values[6];
    point.noSymbolErrors = values[7] == 0;
    point.noBlockErrors = values[8] == 0;
    point.channel = values[9];
    run.points.push_back(point);
  }
  return true;
}

}  // namespace

bool writeRunComparison(const std::vector<fs::path>& runs, std::ostream& svg,
                        std::ostream& errors) {
  if (runs.empty()) {
    errors << "nbsim: no run to plot\n" << std::flush;
    return false;
  }
  std::vector<ReadRun> read(runs.size());
  for (std::size_t r = 0; r < runs.size(); ++r) {
    std::error_code code;
    if (!fs::is_directory(runs[r], code)) {
      errors << "nbsim: " << runs[r].string() << ": is no folder of a run\n" << std::flush;
      return false;
    }
    std::string bytes;
    std::string error;
    const fs::path json = runs[r] / "result.json";
    const fs::path csv = runs[r] / "result.csv";
    if (!readFile(json, bytes, error) || !readDescription(bytes, runs[r], read[r], error)) {
      errors << "nbsim: " << json.string() << ": " << error << '\n' << std::flush;
      return false;
    }
    if (!readFile(csv, bytes, error) || !readPoints(bytes, read[r], error)) {
      errors << "nbsim: " << csv.string() << ": " << error << '\n' << std::flush;
      return false;
    }
  }
  // Runs whose legend entries would read alike are told apart by their folders.
  std::vector<bool> alike(read.size(), false);
  for (std::size_t r = 0; r < read.size(); ++r) {
    for (std::size_t s = 0; s < r; ++s) {
      if (read[s].label == read[r].label && read[s].detail == read[r].detail) {
        alike[r] = alike[s] = true;
      }
    }
  }
  for (std::size_t r = 0; r < read.size(); ++r) {
    if (alike[r]) read[r].label += " (" + (runs[r] / "").parent_path().filename().string() + ")";
  }
  SvgPlot plot(formatInteger(static_cast<std::int64_t>(runs.size())) +
               (runs.size() == 1 ? " run" : " runs compared"));
  for (const ReadRun& run : read) {
    plot.startRun(run.label, run.detail, run.tip);
    for (const PlottedPoint& point : run.points) plot.addPoint(point);
  }
  plot.write(svg);
  svg.flush();
  return true;
}

}  // namespace nbsim
