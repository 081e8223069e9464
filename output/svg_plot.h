// The sweep's curves as a picture: "result.svg", a self-contained SVG (no script, no font files)
// with the decoder's symbol and block error rates and the channel's symbol error rate against P0.
// The error-rate axis is logarithmic and P0 decreases to the right, as the sweep goes; every
// point is marked on every curve. Where no error was seen the mark is hollow and stands apart
// from the line: the decoder's SER at the 1/symbols that the report gives it, any other rate of
// zero, which a logarithmic axis cannot show, on the bottom edge. A point whose P0 or rate is
// infinite or not a number (a point without any block, say) has no mark on the curves concerned.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "engine/point_result.h"

namespace nbsim {

class SvgPlot {
 public:
  // `subtitle` names the run under the heading, e.g. "Q=256, nk=1, nr=1, L=69, itert=10".
  explicit SvgPlot(std::string subtitle) : subtitle_(std::move(subtitle)) {}

  // Keeps the point's P0 and its three rates.
  void reportPoint(const PointResult& point);

  // Writes the picture of every point kept so far.
  void write(std::ostream& out) const;

 private:
  struct PlotPoint {
    double P0;
    double rates[3];   // decoder SER, decoder FER, channel symbol error rate
    bool noErrors[3];  // no error was seen: the rate is 0, or the SER an upper bound
  };

  struct Frame;
  Frame frame() const;
  static void writeGrid(std::ostream& out, const Frame& plot);
  void writeCurve(std::ostream& out, const Frame& plot, int s) const;
  static void writeLegend(std::ostream& out, bool anyHollow);

  std::string subtitle_;
  std::vector<PlotPoint> points_;
};

}  // namespace nbsim
