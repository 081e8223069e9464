// The sweep's results for other programs: "result.csv", an RFC 4180 table in UTF-8 with CR LF
// line ends: a header row and one row per point, nothing else. What describes the run (version,
// seed, inputs, times) is in "result.json" beside it (run_json_writer.h). Numbers are written in
// their shortest form that reads back exactly; infinity and not-a-number are "inf" and "nan".
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include "output/result_file.h"
#include "output/run_listener.h"

namespace nbsim {

// The header row: P0, the counters, SER and FER each with the bounds of their 95 % interval
// (error_rate_intervals.h), then an error count and rate for every k = 0..itert: k = 0 the
// symbols received wrong, k >= 1 those wrong after decoder iteration k.
std::string csvHeader(std::int32_t itert);
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
