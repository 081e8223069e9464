// Feeding and writing the plot.
#include "output/plot_writer.h"

#include <sstream>

#include "output/number_format.h"

namespace nbsim {

using text::formatInteger;

PlotWriter::PlotWriter(std::string path, std::ostream& errors,
                       std::function<std::int64_t()> milliseconds)
    : file_(std::move(path), errors), milliseconds_(std::move(milliseconds)) {
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
  if (!plot_) return true;
  plot_->reportPoint(point);
  behind_ = true;
  const std::int64_t now = milliseconds_();
  if (!writtenAt_ || now - *writtenAt_ >= interval) {
    writtenAt_ = now;
    write();
  }
  return true;
}

void PlotWriter::finish(const RunOutcome& outcome) {
  if (!plot_ || outcome.sweep == SweepOutcome::refused) return;
  if (behind_ || !writtenAt_) write();
}

void PlotWriter::write() {
  std::ostringstream picture;
  plot_->write(picture);
  file_.replace(picture.str());
  behind_ = false;
}

}  // namespace nbsim
