// The files beside the report: "result.csv", created with the report and given every point as
// the report gets it, and "result.svg", written when the sweep ends. They serve other programs
// and never stop the run: a file that cannot be written is said once on standard error, the run
// goes on, and failed() tells the run to end with its own status.
#pragma once

#include <cstdint>
#include <fstream>
#include <optional>
#include <ostream>
#include <string>

#include "code/nonbinary_codec.h"
#include "run/csv_results_writer.h"
#include "run/point_reporter.h"
#include "run/run_parameters.h"
#include "run/svg_plot.h"

namespace nbsim {

class ResultsFiles : public PointReporter {
 public:
  // The files at `csvPath` and `plotPath`; failures are said on `errors`.
  ResultsFiles(std::string csvPath, std::string plotPath, std::ostream& errors)
      : csvPath_(std::move(csvPath)), plotPath_(std::move(plotPath)), errors_(errors) {}

  // Creates the CSV, replacing an earlier one, and writes its comment lines and header row.
  // Removes an earlier plot, which would not belong to this run.
  void start(const RunParameters& parameters, const NonBinaryCodec& codec, std::int32_t runSeed,
             std::int64_t seedSecond);

  // Adds the point's row to the CSV and keeps it for the plot. A CSV that cannot take the row
  // is removed, so that no truncated file is left.
  void reportPoint(const PointResult& point) override;

  // Writes the plot of every point reported. A plot that cannot be written is removed.
  void writePlot();

  // True once either file could not be written.
  bool failed() const { return failed_; }

 private:
  // Says on standard error that `path` `what` (and `tail`), and gives up a failed CSV.
  void fail(const std::string& path, const std::string& what, int error, const char* tail);

  std::string csvPath_;
  std::string plotPath_;
  std::ostream& errors_;
  std::ofstream csvFile_;
  std::optional<CsvResultsWriter> csv_;  // while the CSV takes rows
  std::optional<SvgPlot> plot_;
  bool failed_ = false;
};

}  // namespace nbsim
