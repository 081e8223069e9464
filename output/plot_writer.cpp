// Feeding and writing the plot.
#include "output/plot_writer.h"

#include <sstream>

#include "output/number_format.h"

namespace nbsim {

using text::formatInteger;

PlotWriter::PlotWriter(std::string path, std::ostream& errors) : file_(std::move(path), errors) {
  file_.removeEarlier();
}

bool PlotWriter::start(const RunDescription& run) {
  const NonBinaryCodec& codec = run.codec;
  plot_.emplace("Q=" + formatInteger(run.parameters.Q) + ", nk=" + formatInteger(codec.nk()) +
                ", nr=" + formatInteger(codec.nr()) + ", L=" + formatInteger(codec.blockLength()) +
                ", itert=" + formatInteger(codec.itert()) + ", run seed " +
                formatInteger(run.runSeed));
  return true;
}

bool PlotWriter::point(const PointResult& point) {
  if (plot_) plot_->reportPoint(point);
  return true;
}

void PlotWriter::finish(const RunOutcome& outcome) {
  if (!plot_ || outcome.sweep == SweepOutcome::refused) return;
  std::ostringstream picture;
  plot_->write(picture);
  if (file_.create() && file_.write(picture.str())) file_.close();
}

}  // namespace nbsim
