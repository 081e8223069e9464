// The sweep's results for other programs: "result.csv", RFC 4180 CSV in UTF-8 with CR LF line
// ends. Comment lines starting with '#' name the program's version, the run seed and every
// parameter and polynomial of the run, so that it can be repeated exactly; then a header row and
// one row per point. Numbers are written in their shortest form that reads back exactly.
//
// The comment lines under "# param.txt:" and "# encoder.txt:", without their "# ", are those
// files as the run read them.
#pragma once

#include <ostream>
#include <string>

#include "output/result_file.h"
#include "output/run_listener.h"

namespace nbsim {

// The comment lines and the header row. The rows have one error count and rate for every
// k = 0..itert of the codec: k = 0 the symbols received wrong, k >= 1 those wrong after decoder
// iteration k.
std::string csvHeader(const RunDescription& run);
// The point's row.
std::string csvRow(const PointResult& point);

// The CSV file of a run, in place of an earlier one from its first point on (or from the end of
// a run without points), and flushed after every point. It never stops the run: a file that
// cannot be written is said once on the failure stream, removed, and the run goes on without it.
class CsvResultsWriter : public RunListener {
 public:
  CsvResultsWriter(std::string path, std::ostream& errors) : file_(std::move(path), errors) {}

  // Starts the file with its header.
  bool start(const RunDescription& run) override;
  // Adds the point's row, flushed.
  bool point(const PointResult& point) override;
  void finish(const RunOutcome& outcome) override;

  // True once the file could not be written.
  bool failed() const { return file_.failed(); }

 private:
  ResultFile file_;
};

}  // namespace nbsim
