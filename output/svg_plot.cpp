// Drawing the plot: linear P0 axis with round ticks, logarithmic rate axis in whole decades.
#include "output/svg_plot.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "output/error_rate_intervals.h"
#include "output/number_format.h"

namespace nbsim {
namespace {

// The canvas and the plotting area within it, in SVG user units.
constexpr double width = 900;
constexpr double height = 540;
constexpr double left = 90;
constexpr double right = 680;
constexpr double top = 64;
constexpr double bottom = 460;

constexpr double nan = std::numeric_limits<double>::quiet_NaN();

enum class Shape { circle, square, triangle };

// The colours of the runs of a comparison, in turn.
constexpr const char* runColours[] = {"#1f5fbf", "#c0392b", "#2e8b57", "#d35400",
                                      "#7d3c98", "#138d90", "#8d6e63", "#555555"};

// A coordinate with one decimal.
std::string number(double value) {
  char buffer[64];
  const auto written =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 1);
  return std::string(buffer, written.ptr);
}

// `text` with the characters that XML gives a meaning escaped.
std::string escaped(const std::string& text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

// A round tick spacing of 1, 2 or 5 times a power of ten, near `rough`.
double niceStep(double rough) {
  const double magnitude = std::pow(10.0, std::floor(std::log10(rough)));
  const double residual = rough / magnitude;
  if (residual < 1.5) return magnitude;
  if (residual < 3.0) return 2 * magnitude;
  if (residual < 7.0) return 5 * magnitude;
  return 10 * magnitude;
}

// A rate for the tooltips, with three significant digits.
std::string rateText(double rate) {
  return text::formatShortest(std::strtod(text::formatScientific(rate, 2).c_str(), nullptr));
}

// One mark of `shape` at (x, y) in `colour`, filled unless `hollow`, with `tip` shown on hovering.
std::string marker(Shape shape, const std::string& colour, double x, double y, bool hollow,
                   const std::string& tip) {
  std::string element;
  std::string place;
  if (shape == Shape::circle) {
    element = "circle";
    place = "cx=\"" + number(x) + "\" cy=\"" + number(y) + "\" r=\"3.2\"";
  } else if (shape == Shape::square) {
    element = "rect";
    place = "x=\"" + number(x - 3) + "\" y=\"" + number(y - 3) + "\" width=\"6\" height=\"6\"";
  } else {
    element = "polygon";
    place = "points=\"" + number(x) + "," + number(y - 4.2) + " " + number(x - 3.8) + "," +
            number(y + 2.6) + " " + number(x + 3.8) + "," + number(y + 2.6) + "\"";
  }
  // A hollow mark is see-through, so that marks in the same place all show.
  return "<" + element + " " + place + " fill=\"" +
         (hollow ? "#ffffff\" fill-opacity=\"0" : colour) + "\" stroke=\"" + colour +
         "\" stroke-width=\"1.2\"><title>" + escaped(tip) + "</title></" + element + ">";
}

}  // namespace

PlottedPoint plottedPoint(const PointResult& point) {
  const PointCounters& counters = point.counters;
  const PointIntervals intervals = pointIntervals(counters);
  PlottedPoint plotted;
  plotted.P0 = point.P0;
  plotted.ser = point.ser;
  plotted.serLower = intervals.ser.lower;
  plotted.serUpper = intervals.ser.upper;
  plotted.fer = static_cast<double>(counters.blockErrors) / static_cast<double>(counters.blocks);
  plotted.ferLower = intervals.fer.lower;
  plotted.ferUpper = intervals.fer.upper;
  plotted.channel = point.stats.errors.empty()
                        ? nan
                        : static_cast<double>(point.stats.errors[0]) /
                              static_cast<double>(point.stats.decodedSymbols);
  plotted.noSymbolErrors = counters.symbolErrors == 0;
  plotted.noBlockErrors = counters.blockErrors == 0;
  return plotted;
}

void SvgPlot::startRun(std::string label, std::string detail, std::string tip) {
  comparison_ = true;
  runs_.push_back(Run{std::move(label), std::move(detail), std::move(tip), {}});
}

void SvgPlot::addPoint(const PlottedPoint& point) {
  if (runs_.empty()) runs_.emplace_back();
  runs_.back().points.push_back(point);
}

// One curve as drawn: its look and its marks.
struct SvgPlot::Curve {
  struct Mark {
    double P0;
    double rate;
    double lower;  // the interval, on a curve with intervals
    double upper;
    bool noErrors;  // no error seen: the rate is 0, or the SER an upper bound
  };

  std::string id;
  std::string name;
  std::string colour;
  std::string dash;  // stroke-dasharray of the line, "" for a solid line
  Shape shape;
  bool intervals;
  std::vector<Mark> marks;
};

std::vector<SvgPlot::Curve> SvgPlot::curves() const {
  std::vector<Curve> curves;
  const auto decoderCurves = [&curves](const Run& run, const std::string& prefix,
                                       const std::string& colourSer, const std::string& colourFer,
                                       const std::string& dashFer) {
    Curve ser{prefix + "ser", "Decoder SER (symbol)", colourSer, "", Shape::circle, true, {}};
    Curve fer{prefix + "fer", "Decoder FER (block)", colourFer, dashFer, Shape::square, true, {}};
    for (const PlottedPoint& p : run.points) {
      ser.marks.push_back({p.P0, p.ser, p.serLower, p.serUpper, p.noSymbolErrors});
      fer.marks.push_back({p.P0, p.fer, p.ferLower, p.ferUpper, p.noBlockErrors});
    }
    curves.push_back(std::move(ser));
    curves.push_back(std::move(fer));
  };
  if (!comparison_) {
    const Run run = runs_.empty() ? Run{} : runs_.front();
    decoderCurves(run, "decoder-", "#1f5fbf", "#c0392b", "");
    Curve channel{"channel-ser", "Channel SER", "#707070", "6 4", Shape::triangle, false, {}};
    for (const PlottedPoint& p : run.points) {
      channel.marks.push_back({p.P0, p.channel, nan, nan, p.channel == 0});
    }
    curves.push_back(std::move(channel));
    return curves;
  }
  for (std::size_t r = 0; r < runs_.size(); ++r) {
    const std::string colour = runColours[r % std::size(runColours)];
    decoderCurves(runs_[r], "run" + std::to_string(r + 1) + "-", colour, colour, "6 3");
  }
  return curves;
}

// The plot's frame: the ranges that its points span and the map from values to the canvas.
struct SvgPlot::Frame {
  double xLow = 0;
  double xHigh = 0;
  double xStep = 0;
  int lowDecade = -6;
  int highDecade = 0;
  bool empty = true;           // no point with a finite P0
  bool anyIntervals = false;   // some point has an error bar
  bool anyUpperBound = false;  // some point has only an upper bound
  bool anyZero = false;        // some rate of 0 is drawn on the bottom edge

  // P0 decreases to the right.
  double xOf(double P0) const { return left + (xHigh - P0) / (xHigh - xLow) * (right - left); }
  double yOf(double rate) const {
    return bottom - (std::log10(rate) - lowDecade) / (highDecade - lowDecade) * (bottom - top);
  }
};

SvgPlot::Frame SvgPlot::frame(const std::vector<Curve>& curves) const {
  // The ranges: every finite P0, every positive finite rate and bound.
  double P0Low = std::numeric_limits<double>::infinity();
  double P0High = -P0Low;
  double rateLow = P0Low;
  double rateHigh = 0;
  Frame frame;
  const auto take = [&](double rate) {
    if (!std::isfinite(rate) || rate <= 0) return;
    rateLow = std::min(rateLow, rate);
    rateHigh = std::max(rateHigh, rate);
  };
  for (const Curve& curve : curves) {
    for (const Curve::Mark& m : curve.marks) {
      if (!std::isfinite(m.P0)) continue;
      frame.empty = false;
      P0Low = std::min(P0Low, m.P0);
      P0High = std::max(P0High, m.P0);
      if (curve.intervals) {
        frame.anyIntervals = frame.anyIntervals || std::isfinite(m.upper);
        frame.anyUpperBound = frame.anyUpperBound || (m.noErrors && std::isfinite(m.upper));
        take(m.lower);
        take(m.upper);
        if (!m.noErrors) take(m.rate);
      } else {
        frame.anyZero = frame.anyZero || (m.noErrors && std::isfinite(m.rate));
        take(m.rate);
      }
    }
  }
  if (frame.empty) {
    P0Low = 0;
    P0High = 0.25;
  }
  double span = P0High - P0Low;
  if (span == 0) span = P0High != 0 ? std::abs(P0High) * 0.2 : 0.01;
  frame.xStep = niceStep(span / 6);
  frame.xLow = P0Low - span * 0.04;
  frame.xHigh = P0High + span * 0.04;
  if (rateHigh > 0) {
    frame.lowDecade = static_cast<int>(std::floor(std::log10(rateLow)));
    frame.highDecade = static_cast<int>(std::ceil(std::log10(rateHigh)));
    if (frame.highDecade == frame.lowDecade) ++frame.highDecade;
  }
  return frame;
}

void SvgPlot::write(std::ostream& out) const {
  const std::vector<Curve> all = curves();
  const Frame plot = frame(all);
  out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"900\" height=\"540\" "
      << "viewBox=\"0 0 " << width << ' ' << height << "\" "
      << "font-family=\"DejaVu Sans, Liberation Sans, Arial, Helvetica, sans-serif\" "
      << "font-size=\"13\">\n"
      << "<title>Error rates against P0</title>\n"
      << "<rect width=\"" << width << "\" height=\"" << height << "\" fill=\"#ffffff\"/>\n"
      << "<text x=\"" << number((left + right) / 2) << "\" y=\"28\" text-anchor=\"middle\" "
      << "font-size=\"17\" font-weight=\"bold\">Error rates against P0</text>\n"
      << "<text x=\"" << number((left + right) / 2) << "\" y=\"48\" text-anchor=\"middle\" "
      << "fill=\"#444444\">" << escaped(subtitle_) << "</text>\n";
  writeGrid(out, plot);
  // The first curves in front.
  for (auto curve = all.rbegin(); curve != all.rend(); ++curve) writeCurve(out, plot, *curve);
  writeLegend(out, all, plot);
  out << "</svg>\n";
}

void SvgPlot::writeGrid(std::ostream& out, const Frame& plot) {
  // Grid and tick labels: decades with their 2..9 multiples, and round P0 values.
  out << "<g class=\"grid\">\n";
  const int decades = plot.highDecade - plot.lowDecade;
  const int labelEvery = std::max(1, (decades + 9) / 10);
  for (int decade = plot.lowDecade; decade <= plot.highDecade; ++decade) {
    const double y = plot.yOf(std::pow(10.0, decade));
    out << "<line x1=\"" << left << "\" y1=\"" << number(y) << "\" x2=\"" << right << "\" y2=\""
        << number(y) << "\" stroke=\"#c8c8c8\" stroke-width=\"1\"/>\n";
    if ((decade - plot.lowDecade) % labelEvery == 0) {
      out << "<text x=\"" << number(left - 8) << "\" y=\"" << number(y + 4)
          << "\" text-anchor=\"end\">10<tspan dy=\"-6\" font-size=\"10\">"
          << text::formatInteger(decade) << "</tspan></text>\n";
    }
    if (decade == plot.highDecade || decades > 12) continue;
    for (int multiple = 2; multiple <= 9; ++multiple) {
      const double minor = plot.yOf(multiple * std::pow(10.0, decade));
      out << "<line x1=\"" << left << "\" y1=\"" << number(minor) << "\" x2=\"" << right
          << "\" y2=\"" << number(minor) << "\" stroke=\"#ececec\" stroke-width=\"1\"/>\n";
    }
  }
  const int decimals = std::max(0, -static_cast<int>(std::floor(std::log10(plot.xStep))));
  for (double k = std::ceil(plot.xLow / plot.xStep); k <= std::floor(plot.xHigh / plot.xStep);
       ++k) {
    const double tick = k * plot.xStep + 0.0;  // + 0.0 turns -0 into 0
    const double x = plot.xOf(tick);
    out << "<line x1=\"" << number(x) << "\" y1=\"" << top << "\" x2=\"" << number(x) << "\" y2=\""
        << bottom << "\" stroke=\"#e2e2e2\" stroke-width=\"1\"/>\n"
        << "<text x=\"" << number(x) << "\" y=\"" << number(bottom + 20)
        << "\" text-anchor=\"middle\">" << text::formatFixed(tick, decimals) << "</text>\n";
  }
  out << "</g>\n"
      << "<rect x=\"" << left << "\" y=\"" << top << "\" width=\"" << right - left << "\" height=\""
      << bottom - top << "\" fill=\"none\" stroke=\"#333333\"/>\n"
      << "<text x=\"" << number((left + right) / 2) << "\" y=\"" << number(bottom + 48)
      << "\" text-anchor=\"middle\">Channel symbol error probability P0 (decreasing)</text>\n"
      << "<text transform=\"translate(28 " << number((top + bottom) / 2)
      << ") rotate(-90)\" text-anchor=\"middle\">Error rate</text>\n";
  if (plot.empty) {
    out << "<text x=\"" << number((left + right) / 2) << "\" y=\"" << number((top + bottom) / 2)
        << "\" text-anchor=\"middle\" fill=\"#666666\">No point to plot</text>\n";
  }
}

// The curve: a line joining runs of points with errors seen, an error bar at every point with an
// interval, and a mark at every point.
void SvgPlot::writeCurve(std::ostream& out, const Frame& plot, const Curve& curve) {
  out << "<g class=\"series\" id=\"" << curve.id << "\">\n";
  std::string line;
  const auto endLine = [&] {
    if (line.find(' ') != std::string::npos) {
      out << "<polyline points=\"" << line << "\" fill=\"none\" stroke=\"" << curve.colour
          << "\" stroke-width=\"1.6\"";
      if (!curve.dash.empty()) out << " stroke-dasharray=\"" << curve.dash << "\"";
      out << "/>\n";
    }
    line.clear();
  };
  for (const Curve::Mark& m : curve.marks) {
    if (!std::isfinite(m.P0) || !std::isfinite(m.rate) || m.noErrors || m.rate <= 0) {
      endLine();
      continue;
    }
    if (!line.empty()) line += ' ';
    line += number(plot.xOf(m.P0)) + "," + number(plot.yOf(m.rate));
  }
  endLine();

  // Where each mark stands, if anywhere: an upper bound where no error was seen.
  const auto place = [&](const Curve::Mark& m, double& y) {
    if (!std::isfinite(m.P0)) return false;
    if (curve.intervals) {
      const double at = m.noErrors ? m.upper : m.rate;
      if (!std::isfinite(at) || at <= 0) return false;
      y = plot.yOf(at);
      return true;
    }
    if (!std::isfinite(m.rate) || m.rate < 0) return false;
    y = m.rate == 0 ? bottom : plot.yOf(m.rate);
    return true;
  };
  if (curve.intervals) {
    out << "<g class=\"error-bars\" stroke=\"" << curve.colour << "\" stroke-width=\"1\">\n";
    for (const Curve::Mark& m : curve.marks) {
      double y = 0;
      if (!place(m, y)) continue;
      const double x = plot.xOf(m.P0);
      const std::string xs = number(x);
      const std::string capLeft = number(x - 2.5);
      const std::string capRight = number(x + 2.5);
      if (m.noErrors) {
        // From the bound down, ending in an arrowhead.
        const double tip = std::min(y + 16, bottom);
        out << "<path class=\"upper-bound\" fill=\"none\" d=\"M" << capLeft << ' ' << number(y)
            << 'H' << capRight << 'M' << xs << ' ' << number(y) << 'V' << number(tip) << 'M'
            << capLeft << ' ' << number(tip - 4) << 'L' << xs << ' ' << number(tip) << 'L'
            << capRight << ' ' << number(tip - 4) << "\"/>\n";
      } else if (std::isfinite(m.lower) && std::isfinite(m.upper)) {
        const std::string low = number(m.lower > 0 ? plot.yOf(m.lower) : bottom);
        const std::string high = number(plot.yOf(m.upper));
        out << "<path class=\"interval\" fill=\"none\" d=\"M" << xs << ' ' << low << 'V' << high
            << 'M' << capLeft << ' ' << low << 'H' << capRight << 'M' << capLeft << ' ' << high
            << 'H' << capRight << "\"/>\n";
      }
    }
    out << "</g>\n";
  }
  out << "<g class=\"markers\">\n";
  for (const Curve::Mark& m : curve.marks) {
    double y = 0;
    if (!place(m, y)) continue;
    std::string tip = "P0 " + text::formatShortest(static_cast<float>(m.P0)) + ": " + curve.name;
    if (curve.intervals && m.noErrors) {
      tip += " below " + rateText(m.upper) + " (95 %), no error seen";
    } else if (curve.intervals) {
      tip += " " + rateText(m.rate) + " (95 %: " + rateText(m.lower) + " to " + rateText(m.upper) +
             ")";
    } else {
      tip += " " + rateText(m.rate);
    }
    out << marker(curve.shape, curve.colour, plot.xOf(m.P0), y, m.noErrors, tip) << '\n';
  }
  out << "</g>\n</g>\n";
}

// The legend, beside the plot: the curves, or for a comparison the two kinds of curve and the
// runs; then notes on the bars and the hollow marks.
void SvgPlot::writeLegend(std::ostream& out, const std::vector<Curve>& curves,
                          const Frame& plot) const {
  out << "<g class=\"legend\">\n";
  double y = top + 14;
  const auto entry = [&](const std::string& colour, const std::string& dash, Shape shape,
                         const std::string& name, const std::string& tip) {
    out << "<line x1=\"700\" y1=\"" << number(y) << "\" x2=\"736\" y2=\"" << number(y)
        << "\" stroke=\"" << colour << "\" stroke-width=\"1.6\"";
    if (!dash.empty()) out << " stroke-dasharray=\"" << dash << "\"";
    out << "/>\n"
        << marker(shape, colour, 718, y, false, tip) << '\n'
        << "<text x=\"746\" y=\"" << number(y + 4) << "\">" << escaped(name) << "</text>\n";
    y += 24;
  };
  if (!comparison_) {
    for (const Curve& curve : curves) {
      entry(curve.colour, curve.dash, curve.shape, curve.name, curve.name);
    }
  } else {
    entry("#333333", "", Shape::circle, "SER (symbol)", "Decoder SER (symbol)");
    entry("#333333", "6 3", Shape::square, "FER (block)", "Decoder FER (block)");
    y += 4;
    for (std::size_t r = 0; r < runs_.size(); ++r) {
      const Run& run = runs_[r];
      const std::string colour = runColours[r % std::size(runColours)];
      out << "<g class=\"run\"><title>" << escaped(run.tip) << "</title>\n"
          << "<rect x=\"700\" y=\"" << number(y - 6) << "\" width=\"16\" height=\"12\" fill=\""
          << colour << "\"/>\n"
          << "<text x=\"724\" y=\"" << number(y + 4) << "\" font-size=\"12\">" << escaped(run.label)
          << "</text>\n";
      if (!run.detail.empty()) {
        y += 14;
        out << "<text x=\"724\" y=\"" << number(y + 4) << "\" font-size=\"10\" fill=\"#444444\">"
            << escaped(run.detail) << "</text>\n";
      }
      out << "</g>\n";
      y += 22;
    }
  }
  std::vector<const char*> notes;
  if (plot.anyIntervals) notes.push_back("Bars: 95 % confidence intervals");
  if (plot.anyUpperBound) {
    notes.insert(notes.end(), {"Hollow marks with an arrow:", "no error seen, 95 % upper bound"});
  }
  if (plot.anyZero) notes.insert(notes.end(), {"Hollow marks on the bottom edge:", "a rate of 0"});
  y += 4;
  for (const char* line : notes) {
    out << "<text x=\"700\" y=\"" << number(y + 4) << "\" font-size=\"11\" fill=\"#444444\">"
        << line << "</text>\n";
    y += 15;
  }
  out << "</g>\n";
}

}  // namespace nbsim
