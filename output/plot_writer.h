// The plot file of a run, "result.svg": the picture of every point the report holds, written
// when the sweep ends, also when a signal ends it. A run that gets as far as the report removes
// an earlier plot, which would not belong to it; one whose report failed writes none.
#pragma once

#include <optional>
#include <ostream>
#include <string>

#include "output/result_file.h"
#include "output/run_listener.h"
#include "output/svg_plot.h"

namespace nbsim {

class PlotWriter : public RunListener {
 public:
  // Removes an earlier plot at `path` (a file only); failures are said on `errors`.
  PlotWriter(std::string path, std::ostream& errors);

  // Names the run under the plot's heading.
  bool start(const RunDescription& run) override;
  // Keeps the point for the picture.
  bool point(const PointResult& point) override;
  // Writes the picture, unless the report failed. A plot that cannot be written is removed.
  void finish(const RunOutcome& outcome) override;

  // True once the file could not be written.
  bool failed() const { return file_.failed(); }

 private:
  ResultFile file_;
  std::optional<SvgPlot> plot_;
};

}  // namespace nbsim
