// The CSV results of whole runs: every number reads back to what the report says, at full
// precision; the comment lines are enough to repeat the run; and a CSV that cannot be written
// leaves the report whole and the run ending with its own status.
#include "output/csv_results_writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "engine/source_generator.h"
#include "engine/sweep_points.h"
#include "output/number_format.h"
#include "output/program_version.h"
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

struct Csv {
  std::vector<std::string> comments;
  std::vector<std::string> header;
  std::vector<std::vector<std::string>> rows;
};

// Reads the CSV strictly: CR LF after every line, comments only before the header, and every
// row as wide as the header.
Csv readCsv(const std::string& bytes) {
  Csv csv;
  EXPECT_EQ(bytes.substr(bytes.size() - 2), "\r\n");
  std::vector<std::string> lines = split(bytes, "\r\n");
  lines.pop_back();
  for (const std::string& line : lines) {
    EXPECT_EQ(line.find_first_of("\r\n\""), std::string::npos) << line;
    if (csv.header.empty() && line.rfind("#", 0) == 0) {
      csv.comments.push_back(line);
    } else if (csv.header.empty()) {
      csv.header = split(line, ",");
    } else {
      csv.rows.push_back(split(line, ","));
      EXPECT_EQ(csv.rows.back().size(), csv.header.size()) << line;
    }
  }
  return csv;
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
  const Csv csv = readCsv(folder.read("result.csv"));
  const std::vector<ReportedPoint> report = readReport(run.report);

  std::vector<std::string> header = {"P0",           "blocks", "infoSymbols", "blockErrors",
                                     "symbolErrors", "SER",    "FER"};
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
    const double blocks = std::stod(row[1]);
    const double infoSymbols = std::stod(row[2]);
    const double blockErrors = std::stod(row[3]);
    const double symbolErrors = std::stod(row[4]);
    // The rates are the exact doubles of their counts; the report prints them rounded.
    const double ser = std::strtod(row[5].c_str(), nullptr);
    EXPECT_EQ(ser, std::max(symbolErrors, 1.0) / infoSymbols);
    EXPECT_EQ(formatScientific(static_cast<float>(ser), 2), printed.ser);
    const double fer = std::strtod(row[6].c_str(), nullptr);
    EXPECT_EQ(fer, blockErrors / blocks);
    EXPECT_EQ(formatScientific(fer, 2), printed.fer);
    ASSERT_EQ(printed.errors.size(), 5u);
    for (std::size_t k = 0; k < 5; ++k) {
      EXPECT_EQ(row[7 + 2 * k], printed.errors[k]);
      const double rate = std::strtod(row[8 + 2 * k].c_str(), nullptr);
      EXPECT_EQ(rate, std::stod(row[7 + 2 * k]) / infoSymbols);
      EXPECT_EQ(formatScientific(static_cast<float>(rate), 2), printed.rates[k]);
    }
    // The count of wrongly decoded symbols is the one after the last iteration.
    EXPECT_EQ(row[4], printed.errors[4]);
  }
}

TEST(CsvResults, CommentLinesNameTheVersionAndSeedAndRepeatTheRunExactly) {
  ProgramFolder first;
  first.write("param.txt", parameterFile("-1", 64, "0.3"));
  first.write("encoder.txt", "nk=2 nr=1\n i=0 v=0 2 0 5\n i=1 v=0 3 0 2 7\n");
  ASSERT_EQ(runIn(first, {{second + 17, 0}}).status, 0);
  const std::string bytes = first.read("result.csv");
  const Csv csv = readCsv(bytes);
  SourceGenerator seeder;
  seeder.seed(static_cast<std::uint32_t>(second + 17));
  ASSERT_GE(csv.comments.size(), 15u);
  EXPECT_EQ(csv.comments[0], "# nbsim " + std::string(programVersion()));
  EXPECT_EQ(csv.comments[1], "# run seed=" + std::to_string(seeder.draw()) +
                                 " (the first source generator draw after seeding with the "
                                 "clock second " +
                                 std::to_string(second + 17) + ")");
  EXPECT_EQ(csv.comments[7], "# volume=-1");  // as the file gives it
  EXPECT_EQ(csv.comments[14], "# L=15");

  // The input files and the clock second, rebuilt from the comment lines alone.
  std::string parameters;
  std::string codeFile;
  std::string* file = nullptr;
  std::int64_t clockSecond = -1;
  for (const std::string& comment : csv.comments) {
    const std::string line = comment.substr(2);
    if (line.rfind("run seed=", 0) == 0) {
      clockSecond = std::stoll(line.substr(line.rfind(' ') + 1));
    } else if (line == "param.txt:") {
      file = &parameters;
    } else if (line == "encoder.txt:") {
      file = &codeFile;
    } else if (file == &parameters ||
               (file == &codeFile && (line.rfind("nk=", 0) == 0 || line.rfind("i=", 0) == 0))) {
      *file += line + "\n";
    }
  }
  ASSERT_EQ(clockSecond, second + 17);
  ProgramFolder again;
  again.write("param.txt", parameters);
  again.write("encoder.txt", codeFile);
  ASSERT_EQ(runIn(again, {{clockSecond, 0}}).status, 0);
  EXPECT_EQ(again.read("result.csv"), bytes);
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
