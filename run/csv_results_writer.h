// The sweep's results for other programs: "result.csv", RFC 4180 CSV in UTF-8 with CR LF line
// ends. Comment lines starting with '#' name the program's version, the run seed and every
// parameter and polynomial of the run, so that it can be repeated exactly; then a header row and
// one row per point. Numbers are written in their shortest form that reads back exactly.
//
// The comment lines under "# param.txt:" and "# encoder.txt:", without their "# ", are those
// files as the run read them.
#pragma once

#include <cstdint>
#include <ostream>

#include "code/nonbinary_codec.h"
#include "run/point_reporter.h"
#include "run/run_parameters.h"

namespace nbsim {

class CsvResultsWriter : public PointReporter {
 public:
  // Writes to `out`, a stream opened in binary mode that must outlive the writer.
  explicit CsvResultsWriter(std::ostream& out) : out_(out) {}

  // The comment lines and the header row, then a flush. `seedSecond` is the clock second whose
  // first source-generator draw gave `runSeed`. The rows have one error count and rate for every
  // k = 0..itert of the codec: k = 0 the symbols received wrong, k >= 1 those wrong after
  // decoder iteration k.
  void writeHeader(const RunParameters& parameters, const NonBinaryCodec& codec,
                   std::int32_t runSeed, std::int64_t seedSecond);

  // The point's row, then a flush. Nothing more is written once a write has failed.
  void reportPoint(const PointResult& point) override;

  // True while every write and flush has succeeded.
  bool good() const { return failure_ == 0; }
  // The system error number of the first failed write or flush; 0 while all is well.
  int failure() const { return failure_; }

 private:
  void write(const std::string& text);

  std::ostream& out_;
  int failure_ = 0;
};

}  // namespace nbsim
