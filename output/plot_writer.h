// The plot file of a run, "result.svg": the picture of every point the report holds. It is
// rewritten whole after a point (a temporary file renamed over it, so that a browser reloading
// it during a long run sees the sweep so far), at most every quarter of a second, and at the
// end, also when a signal ends the sweep. A run that gets as far as the report removes an earlier
// plot, which would not belong to it; the plot stays as it was when the report fails.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>

#include "output/result_file.h"
#include "output/run_listener.h"
#include "output/svg_plot.h"

namespace nbsim {

class PlotWriter : public RunListener {
 public:
  // The shortest time between two writings, in milliseconds.
  static constexpr std::int64_t interval = 250;

  // Removes an earlier plot at `path` (a file only); failures are said on `errors`.
  // `milliseconds` reads a clock that never goes back, which spaces the writings.
  PlotWriter(std::string path, std::ostream& errors, std::function<std::int64_t()> milliseconds);

  // Names the run under the plot's heading.
  bool start(const RunDescription& run) override;
  // Adds the point and rewrites the picture, unless it was written less than `interval` ago.
  bool point(const PointResult& point) override;
  // Rewrites the picture with every point, unless the report failed. A plot that cannot be
  // written is removed.
  void finish(const RunOutcome& outcome) override;

  // True once the file could not be written.
  bool failed() const { return file_.failed(); }

 private:
  void write();

  ResultFile file_;
  std::function<std::int64_t()> milliseconds_;
  std::optional<SvgPlot> plot_;
  std::optional<std::int64_t> writtenAt_;  // when the picture was last written
  bool behind_ = false;                    // points came after the last writing
};

}  // namespace nbsim
