// The description of a run for other programs: "result.json" beside "result.csv". It names the
// program and its version, the run seed and the clock second it came from (null for a seed
// chosen outright), the inputs as the run read them, L, the threads and ranks, the start and end
// times, how the run ended and how many points the CSV holds: enough to repeat the run exactly
// and to read its table. It is rewritten whole after every point and at the end, always through
// a temporary file renamed over it, so that a reader never sees it cut short.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

#include "output/result_file.h"
#include "output/run_listener.h"

namespace nbsim {

// The JSON text of `run` with `points` points delivered; `outcome` is how it ended, or nothing
// while it runs. Numbers read back exactly; a P0 value that is infinite or not a number is the
// string "inf", "-inf" or "nan". Times are UTC, e.g. "2020-12-06T06:27:11.000Z".
std::string runJson(const RunDescription& run, std::int64_t points, const RunOutcome* outcome);

// The JSON file of a run. Like the CSV it takes the place of an earlier one at the run's first
// point (at its end for a run without points), so that the two files always describe the same
// run; a run whose report fails before any point leaves an earlier one alone. It never stops the
// run: a file that cannot be written is said once, removed, and the run goes on without it.
class RunJsonWriter : public RunListener {
 public:
  RunJsonWriter(std::string path, std::ostream& errors) : file_(std::move(path), errors) {}

  // Keeps the run's description (whose parameters and codec must outlive this object).
  bool start(const RunDescription& run) override;
  // Rewrites the file with one point more.
  bool point(const PointResult& point) override;
  // Rewrites the file with how the run ended.
  void finish(const RunOutcome& outcome) override;

  // True once the file could not be written.
  bool failed() const { return file_.failed(); }

 private:
  ResultFile file_;
  std::optional<RunDescription> run_;
  std::int64_t points_ = 0;
};

}  // namespace nbsim
