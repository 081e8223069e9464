// The CSV results of whole runs, read back by the strict RFC 4180 reader: every number reads back
// to what the report says, at full precision, with the intervals of the row's own counts; the
// JSON beside it describes the run and is enough to repeat it; and a CSV that cannot be written
// leaves the report whole and the run ending with its own status.
#include "output/csv_results_writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "engine/source_generator.h"
#include "engine/sweep_points.h"
#include "output/csv_table.h"
#include "output/error_rate_intervals.h"
#include "output/number_format.h"
#include "output/program_version.h"
#include "output/run_json_writer.h"
#include "tests/support/in_process_run.h"
#include "tests/support/input_files.h"

namespace nbsim {
namespace {

using testing::ProgramFolder;
using testing::runIn;
using text::formatScientific;

constexpr std::int64_t second = 1607236031;

const std::string& code = testing::shortCode;

std::string parameterFile(const std::string& volume, int Q = 16, const std::string& last = "0.02") {
  return testing::parameterFile(std::to_string(Q), "0.3", last, "0.04", volume, "30", "4");
}

std::vector<std::string> split(const std::string& text, const std::string& separator) {
  std::vector<std::string> parts;
  std::size_t from = 0;
  for (std::size_t at; (at = text.find(separator, from)) != std::string::npos;) {
    parts.push_back(text.substr(from, at - from));
    from = at + separator.size();
  }
  parts.push_back(text.substr(from));
  return parts;
}

std::vector<std::string> words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> found;
  for (std::string word; in >> word;) found.push_back(word);
  return found;
}

// Reads the CSV strictly: a table and nothing else.
CsvTable readCsv(const std::string& bytes) {
  CsvTable table;
  std::string error;
  EXPECT_TRUE(readCsvTable(bytes, table, error)) << error;
  EXPECT_EQ(bytes.substr(bytes.size() - 2), "\r\n");
  return table;
}

// The numbers of one point block of the report, as printed.
struct ReportedPoint {
  std::string P0;
  std::string blocks;
  std::string infoSymbols;
  std::vector<std::string> errors;
  std::vector<std::string> rates;
  std::string ser;
  std::string fer;
};

std::vector<ReportedPoint> readReport(const std::string& report) {
  const std::vector<std::string> lines = split(report, "\r\n");
  std::vector<ReportedPoint> points;
  for (std::size_t i = 0; i + 16 < lines.size(); ++i) {
    if (lines[i] != std::string(63, '-')) continue;
    ReportedPoint point;
    point.P0 = lines[i + 1].substr(lines[i + 1].find("P0=") + 3);
    point.blocks = words(lines[i + 3]).back();
    point.infoSymbols = words(lines[i + 4]).back();
    point.errors = words(lines[i + 10]);
    point.rates = words(lines[i + 13]);
    point.ser = words(lines[i + 15]).back();
    point.fer = words(lines[i + 16]).back();
    points.push_back(point);
  }
  return points;
}

TEST(CsvResults, EveryNumberReadsBackToTheReportsAtFullPrecision) {
  ProgramFolder folder;
  folder.write("param.txt", parameterFile("2000"));
  folder.write("encoder.txt", code);
  const auto run = runIn(folder, {{second, 0}, {second, 5}, {second, 900}});
  ASSERT_EQ(run.status, 0) << run.errors;
  const CsvTable csv = readCsv(folder.read("result.csv"));
  const std::vector<ReportedPoint> report = readReport(run.report);

  std::vector<std::string> header = {
      "P0",  "blocks",   "infoSymbols", "blockErrors", "symbolErrors", "squaredSymbolErrors",
      "SER", "SERLower", "SERUpper",    "FER",         "FERLower",     "FERUpper"};
  for (int k = 0; k <= 4; ++k) {
    header.push_back("errors" + std::to_string(k));
    header.push_back("errorRate" + std::to_string(k));
  }
  EXPECT_EQ(csv.header, header);
  ASSERT_EQ(csv.rows.size(), 8u);
  ASSERT_EQ(report.size(), csv.rows.size());

  RunParameters parameters;
  parameters.P0_first = 0.3f;
  parameters.P0_last = 0.02f;
  parameters.P0_step = 0.04f;
  SweepPoints sweep(parameters);
  for (std::size_t n = 0; n < csv.rows.size(); ++n) {
    SCOPED_TRACE("point " + std::to_string(n));
    const std::vector<std::string>& row = csv.rows[n];
    const ReportedPoint& printed = report[n];
    // P0 reads back to the very float of the sweep.
    float P0 = 0.0f;
    ASSERT_TRUE(sweep.next(P0));
    EXPECT_EQ(std::strtof(row[0].c_str(), nullptr), P0);
    EXPECT_EQ(formatScientific(std::strtof(row[0].c_str(), nullptr), 2), printed.P0);
    EXPECT_EQ(row[1], printed.blocks);
    EXPECT_EQ(row[2], printed.infoSymbols);
    const PointCounters counters{std::stoll(row[1]), std::stoi(row[3]), std::stoll(row[2]),
                                 std::stoll(row[4]), std::stoll(row[5])};
    const auto blocks = static_cast<double>(counters.blocks);
    const auto infoSymbols = static_cast<double>(counters.infoSymbols);
    const auto symbolErrors = static_cast<double>(counters.symbolErrors);
    // At least one square per wrong symbol, at most all in one block.
    EXPECT_GE(counters.squaredSymbolErrors, counters.symbolErrors);
    EXPECT_LE(counters.squaredSymbolErrors, counters.symbolErrors * counters.symbolErrors);
    // The rates are the exact doubles of their counts; the report prints them rounded.
    const double ser = std::strtod(row[6].c_str(), nullptr);
    EXPECT_EQ(ser, std::max(symbolErrors, 1.0) / infoSymbols);
    EXPECT_EQ(formatScientific(static_cast<float>(ser), 2), printed.ser);
    const double fer = std::strtod(row[9].c_str(), nullptr);
    EXPECT_EQ(fer, counters.blockErrors / blocks);
    EXPECT_EQ(formatScientific(fer, 2), printed.fer);
    // The bounds are those of the row's own counts, and hold its rates.
    const PointIntervals intervals = pointIntervals(counters);
    EXPECT_EQ(std::strtod(row[7].c_str(), nullptr), intervals.ser.lower);
    EXPECT_EQ(std::strtod(row[8].c_str(), nullptr), intervals.ser.upper);
    EXPECT_EQ(std::strtod(row[10].c_str(), nullptr), intervals.fer.lower);
    EXPECT_EQ(std::strtod(row[11].c_str(), nullptr), intervals.fer.upper);
    EXPECT_LE(intervals.ser.lower, symbolErrors / infoSymbols);
    EXPECT_GE(intervals.ser.upper, symbolErrors / infoSymbols);
    EXPECT_LE(intervals.fer.lower, fer);
    EXPECT_GE(intervals.fer.upper, fer);
    ASSERT_EQ(printed.errors.size(), 5u);
    for (std::size_t k = 0; k < 5; ++k) {
      EXPECT_EQ(row[12 + 2 * k], printed.errors[k]);
      const double rate = std::strtod(row[13 + 2 * k].c_str(), nullptr);
      EXPECT_EQ(rate, std::stod(row[12 + 2 * k]) / infoSymbols);
      EXPECT_EQ(formatScientific(static_cast<float>(rate), 2), printed.rates[k]);
    }
    // The count of wrongly decoded symbols is the one after the last iteration.
    EXPECT_EQ(row[4], printed.errors[4]);
  }
}

TEST(RunJson, DescribesTheRunAndRepeatsItExactly) {
  ProgramFolder first;
  first.write("param.txt", parameterFile("-1", 64, "0.3"));
  first.write("encoder.txt", "nk=2 nr=1\n i=0 v=0 2 0 5\n i=1 v=0 3 0 2 7\n");
  SweepOptions options;
  options.threads = 2;
  ASSERT_EQ(runIn(first, {{second + 17, 0}, {second + 18, 250}, {second + 20, 5}}, options).status,
            0);
  const std::string bytes = first.read("result.csv");
  const nlohmann::json json = nlohmann::json::parse(first.read("result.json"));
  SourceGenerator seeder;
  seeder.seed(static_cast<std::uint32_t>(second + 17));
  EXPECT_EQ(json["program"], "nbsim");
  EXPECT_EQ(json["version"], std::string(programVersion()));
  EXPECT_EQ(json["seed"], seeder.draw());
  EXPECT_EQ(json["seedClockSecond"], second + 17);
  EXPECT_EQ(json["inputs"]["param.txt"]["volume"], -1);  // as the file gives it
  EXPECT_EQ(json["L"], 15);
  EXPECT_EQ(json["threads"], 2);
  EXPECT_EQ(json["ranks"], 1);
  EXPECT_EQ(json["start"], "2020-12-06T06:27:29.250Z");
  EXPECT_EQ(json["end"], "2020-12-06T06:27:31.005Z");
  EXPECT_EQ(json["outcome"], "completed");
  EXPECT_EQ(json["points"], readCsv(bytes).rows.size());

  // The input files and the clock second, rebuilt from the description alone.
  const nlohmann::json& parameters = json["inputs"]["param.txt"];
  std::string parameterText;
  for (const char* key :
       {"Q", "P0_first", "P0_last", "P0_step", "volume", "minBlockErr", "itert"}) {
    parameterText += std::string(key) + "=" + parameters[key].dump() + "\n";
  }
  EXPECT_EQ(std::strtof(parameters["P0_step"].dump().c_str(), nullptr), 0.04f);
  const nlohmann::json& code = json["inputs"]["encoder.txt"];
  std::string codeText = "nk=" + code["nk"].dump() + " nr=" + code["nr"].dump() + "\n";
  for (const nlohmann::json& polynomial : code["polynomials"]) {
    codeText += "i=" + polynomial["i"].dump() + " v=" + polynomial["v"].dump() + " " +
                std::to_string(polynomial["taps"].size());
    for (const nlohmann::json& tap : polynomial["taps"]) {
      codeText += ' ';
      codeText += tap.dump();
    }
    codeText += "\n";
  }
  ProgramFolder again;
  again.write("param.txt", parameterText);
  again.write("encoder.txt", codeText);
  ASSERT_EQ(runIn(again, {{json["seedClockSecond"].get<std::int64_t>(), 0}}).status, 0);
  EXPECT_EQ(again.read("result.csv"), bytes);
}

TEST(RunJson, ASeedWithoutAClockSecondAndARunStillGoingAreNull) {
  CodeDescription code;
  code.nk = 1;
  code.nr = 1;
  code.polynomials[0][0].taps = {0, 1, 3};
  RunParameters parameters;
  parameters.P0_first = std::numeric_limits<float>::infinity();
  const NonBinaryCodec codec(code, 16, 3);
  const nlohmann::json json =
      nlohmann::json::parse(runJson(RunDescription{parameters, codec, 42}, 3, nullptr));
  EXPECT_EQ(json["seed"], 42);
  EXPECT_TRUE(json["seedClockSecond"].is_null());
  EXPECT_TRUE(json["end"].is_null());
  EXPECT_EQ(json["outcome"], "running");
  EXPECT_EQ(json["points"], 3);
  EXPECT_EQ(json["inputs"]["param.txt"]["P0_first"], "inf");
}

TEST(CsvTable, ReadsQuotedFieldsAndRefusesWhatIsNoTable) {
  CsvTable table;
  std::string error;
  ASSERT_TRUE(readCsvTable("a,\"b,\"\"c\"\"\"\r\n1,\"x\r\ny\"\r\n,\r\n", table, error)) << error;
  EXPECT_EQ(table.header, (std::vector<std::string>{"a", "b,\"c\""}));
  ASSERT_EQ(table.rows.size(), 2u);
  EXPECT_EQ(table.rows[0], (std::vector<std::string>{"1", "x\r\ny"}));
  EXPECT_EQ(table.rows[1], (std::vector<std::string>{"", ""}));
  for (const char* bad :
       {"", "a,b\n1,2\r\n", "a,b\r\n1\r\n", "a,b\r\n1,2\"\r\n", "a,b\r\n\"1\"x,2\r\n",
        "a,b\r\n\"1,2\r\n", "# comment\r\na,b\r\n1,2\r\n"}) {
    EXPECT_FALSE(readCsvTable(bad, table, error)) << bad;
  }
}

TEST(CsvResults, ACsvThatCannotBeWrittenLeavesTheReportWholeAndEndsWithStatus4) {
  ProgramFolder normal;
  normal.write("param.txt", parameterFile("700"));
  normal.write("encoder.txt", code);
  const auto expected = runIn(normal, {{second, 0}});
  ASSERT_EQ(expected.status, 0);

  for (const bool full : {false, true}) {
    SCOPED_TRACE(full ? "full disk" : "directory in the way");
    ProgramFolder folder;
    folder.write("param.txt", parameterFile("700"));
    folder.write("encoder.txt", code);
    const std::filesystem::path csv = folder.path() / "result.csv";
    if (full) {
      std::filesystem::create_symlink("/dev/full", csv);
    } else {
      std::filesystem::create_directory(csv);
    }
    const auto run = runIn(folder, {{second, 0}});
    EXPECT_EQ(run.status, exitResultsFile);
    EXPECT_EQ(run.report, expected.report);
    EXPECT_EQ(run.console, expected.console);
    EXPECT_EQ(run.keyPresses, 1);
    const std::string reason = full ? "cannot be written: No space left on device"
                                    : "cannot be opened for writing: Is a directory";
    EXPECT_EQ(run.errors,
              "nbsim: " + csv.string() + ": " + reason + "; the run goes on without it\n");
    // Nothing of the CSV is left behind; the directory in the way and the link to the device
    // are the user's.
    EXPECT_TRUE(std::filesystem::exists(csv));
    EXPECT_EQ(std::filesystem::is_symlink(csv), full);
    EXPECT_TRUE(folder.exists("result.svg"));
  }
}

}  // namespace
}  // namespace nbsim
