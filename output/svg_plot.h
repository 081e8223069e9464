// The sweep's curves as a picture: a self-contained SVG (no script, no font files) of error rates
// against P0, for one run ("result.svg": the decoder's symbol and block error rates and the
// channel's symbol error rate) or for several runs compared (each run's decoder SER and FER in a
// colour of its own). The error-rate axis is logarithmic and P0 decreases to the right, as the
// sweep goes; every point is marked on every curve. The decoder's rates carry their 95 % interval
// (error_rate_intervals.h) as an error bar; where no error was seen the mark is hollow and stands
// at the 95 % upper bound, with an arrow pointing down. The channel's rate has no bar, and a
// channel rate of 0, which a logarithmic axis cannot show, has a hollow mark on the bottom edge.
// A point whose P0 or rate is infinite or not a number (a point without any block, say) has no
// mark on the curves concerned.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "engine/point_result.h"

namespace nbsim {

// What the plot shows of one point.
struct PlottedPoint {
  double P0 = 0;
  // The decoder's symbol error rate (counting at least one error, as the report does) and block
  // error rate, each with its 95 % interval.
  double ser = 0;
  double serLower = 0;
  double serUpper = 0;
  double fer = 0;
  double ferLower = 0;
  double ferUpper = 0;
  // The channel's symbol error rate; not a number when unknown.
  double channel = 0;
  bool noSymbolErrors = false;  // no symbol, so no block, was decoded wrong
  bool noBlockErrors = false;
};

// The point's rates and intervals.
PlottedPoint plottedPoint(const PointResult& point);

class SvgPlot {
 public:
  // `subtitle` goes under the heading, e.g. "Q=16, nk=1, nr=1, L=7, itert=1, run seed 1".
  explicit SvgPlot(std::string subtitle) : subtitle_(std::move(subtitle)) {}

  // Starts a run of a comparison; its legend entry has `label` as its first line and `detail`, in
  // smaller type, as its second (nothing when empty), and `tip` when hovered. Points added after
  // it belong to it. A plot without startRun is the plot of one run, with the channel's curve.
  void startRun(std::string label, std::string detail, std::string tip);

  // Adds a point to the current run (the one run of a plot without startRun).
  void addPoint(const PlottedPoint& point);
  void reportPoint(const PointResult& point) { addPoint(plottedPoint(point)); }

  // Writes the picture of every point kept so far.
  void write(std::ostream& out) const;

 private:
  struct Run {
    std::string label;
    std::string detail;
    std::string tip;
    std::vector<PlottedPoint> points;
  };
  struct Curve;
  struct Frame;

  std::vector<Curve> curves() const;
  Frame frame(const std::vector<Curve>& curves) const;
  static void writeGrid(std::ostream& out, const Frame& plot);
  static void writeCurve(std::ostream& out, const Frame& plot, const Curve& curve);
  void writeLegend(std::ostream& out, const std::vector<Curve>& curves, const Frame& plot) const;

  std::string subtitle_;
  bool comparison_ = false;
  std::vector<Run> runs_;
};

}  // namespace nbsim
