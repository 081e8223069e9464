// The report "result.txt", in Russian, Windows-1251 with CR LF line ends: the parameters, the
// channel, the code, and per point the decoder's error counts and rates after every iteration
// with the final symbol and block error rates. Every text of the report is in this unit.
#pragma once

#include <ostream>

#include "output/report_stream.h"
#include "output/run_listener.h"

namespace nbsim {

class ReportWriter : public RunListener {
 public:
  // Writes to `bytes`, a stream opened in binary mode that must outlive the writer.
  explicit ReportWriter(std::ostream& bytes) : report_(bytes) {}

  // The parameter header, then a flush; the channel and the code sections. False when the
  // header could not be written.
  bool start(const RunDescription& run) override;
  // The point's block, then a flush; false when it could not be written.
  bool point(const PointResult& point) override;
  // Flushes what is left (all of it when the sweep had no point).
  void finish(const RunOutcome& outcome) override;

  // True while every write and flush has succeeded.
  bool good() const { return report_.good(); }
  // The system error number of the first failure; 0 while all is well.
  int failure() const { return report_.failure(); }

 private:
  void writeCodeDescription(const NonBinaryCodec& codec);
  void writeIterationTable(const IterationStats& stats);

  text::ReportStream report_;
};

}  // namespace nbsim
