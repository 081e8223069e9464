// Drawing the plot: linear P0 axis with round ticks, logarithmic rate axis in whole decades.
#include "output/svg_plot.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <string_view>

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

struct Series {
  const char* id;
  const char* name;
  const char* colour;
  const char* dash;  // stroke-dasharray of the curve, "" for a solid line
  const char* shape;
};

constexpr Series series[3] = {
    {"decoder-ser", "Decoder SER (symbol)", "#1f5fbf", "", "circle"},
    {"decoder-fer", "Decoder FER (block)", "#c0392b", "", "square"},
    {"channel-ser", "Channel SER", "#707070", "6 4", "triangle"},
};

// A coordinate with one decimal.
std::string number(double value) {
  char buffer[64];
  const auto written =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 1);
  return std::string(buffer, written.ptr);
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

// One mark of curve `s` at (x, y), filled unless `hollow`, with `tip` shown on hovering.
std::string marker(const Series& s, double x, double y, bool hollow, const std::string& tip) {
  std::string element;
  std::string shape;
  if (std::string_view(s.shape) == "circle") {
    element = "circle";
    shape = "cx=\"" + number(x) + "\" cy=\"" + number(y) + "\" r=\"3.2\"";
  } else if (std::string_view(s.shape) == "square") {
    element = "rect";
    shape = "x=\"" + number(x - 3) + "\" y=\"" + number(y - 3) + "\" width=\"6\" height=\"6\"";
  } else {
    element = "polygon";
    shape = "points=\"" + number(x) + "," + number(y - 4.2) + " " + number(x - 3.8) + "," +
            number(y + 2.6) + " " + number(x + 3.8) + "," + number(y + 2.6) + "\"";
  }
  return "<" + element + " " + shape + " fill=\"" + (hollow ? "#ffffff" : s.colour) +
         "\" stroke=\"" + s.colour + "\" stroke-width=\"1.2\"><title>" + tip + "</title></" +
         element + ">";
}

}  // namespace

void SvgPlot::reportPoint(const PointResult& point) {
  const double fer =
      static_cast<double>(point.counters.blockErrors) / static_cast<double>(point.counters.blocks);
  const double channel = point.stats.errors.empty()
                             ? std::numeric_limits<double>::quiet_NaN()
                             : static_cast<double>(point.stats.errors[0]) /
                                   static_cast<double>(point.stats.decodedSymbols);
  points_.push_back(PlotPoint{point.P0,
                              {point.ser, fer, channel},
                              {point.counters.symbolErrors == 0, fer == 0, channel == 0}});
}

// The plot's frame: the ranges that its points span and the map from values to the canvas.
struct SvgPlot::Frame {
  double xLow = 0;
  double xHigh = 0;
  double xStep = 0;
  int lowDecade = -6;
  int highDecade = 0;
  bool empty = true;       // no point with a finite P0
  bool anyHollow = false;  // some point is drawn hollow

  // P0 decreases to the right.
  double xOf(double P0) const { return left + (xHigh - P0) / (xHigh - xLow) * (right - left); }
  double yOf(double rate) const {
    return bottom - (std::log10(rate) - lowDecade) / (highDecade - lowDecade) * (bottom - top);
  }
};

SvgPlot::Frame SvgPlot::frame() const {
  // The ranges: every finite P0, every positive finite rate.
  double P0Low = std::numeric_limits<double>::infinity();
  double P0High = -P0Low;
  double rateLow = P0Low;
  double rateHigh = 0;
  Frame frame;
  for (const PlotPoint& p : points_) {
    if (!std::isfinite(p.P0)) continue;
    frame.empty = false;
    P0Low = std::min(P0Low, p.P0);
    P0High = std::max(P0High, p.P0);
    for (int s = 0; s < 3; ++s) {
      const double rate = p.rates[s];
      if (!std::isfinite(rate)) continue;
      frame.anyHollow = frame.anyHollow || p.noErrors[s];
      if (rate <= 0) continue;
      rateLow = std::min(rateLow, rate);
      rateHigh = std::max(rateHigh, rate);
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
  const Frame plot = frame();
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
      << "fill=\"#444444\">" << subtitle_ << "</text>\n";
  writeGrid(out, plot);
  // The channel's curve at the back.
  for (int s = 2; s >= 0; --s) writeCurve(out, plot, s);
  writeLegend(out, plot.anyHollow);
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

// Curve `s` (0..2 of `series`); it joins runs of rates with errors seen, and marks every point.
void SvgPlot::writeCurve(std::ostream& out, const Frame& plot, int s) const {
  const Series& curve = series[s];
  out << "<g class=\"series\" id=\"" << curve.id << "\">\n";
  std::string run;
  const auto endRun = [&] {
    if (run.find(' ') != std::string::npos) {
      out << "<polyline points=\"" << run << "\" fill=\"none\" stroke=\"" << curve.colour
          << "\" stroke-width=\"1.6\"";
      if (*curve.dash) out << " stroke-dasharray=\"" << curve.dash << "\"";
      out << "/>\n";
    }
    run.clear();
  };
  for (const PlotPoint& p : points_) {
    const double rate = p.rates[s];
    if (!std::isfinite(p.P0) || !std::isfinite(rate) || p.noErrors[s] || rate <= 0) {
      endRun();
      continue;
    }
    if (!run.empty()) run += ' ';
    run += number(plot.xOf(p.P0)) + "," + number(plot.yOf(rate));
  }
  endRun();
  out << "<g class=\"markers\">\n";
  for (const PlotPoint& p : points_) {
    const double rate = p.rates[s];
    if (!std::isfinite(p.P0) || !std::isfinite(rate) || rate < 0) continue;
    const std::string tip = "P0 " + text::formatShortest(static_cast<float>(p.P0)) + ": " +
                            curve.name + " " + text::formatShortest(rate);
    out << marker(curve, plot.xOf(p.P0), rate == 0 ? bottom : plot.yOf(rate), p.noErrors[s], tip)
        << '\n';
  }
  out << "</g>\n</g>\n";
}

// The legend, beside the plot; with `anyHollow`, the note on hollow marks.
void SvgPlot::writeLegend(std::ostream& out, bool anyHollow) {
  out << "<g class=\"legend\">\n";
  double y = top + 14;
  for (const Series& curve : series) {
    out << "<line x1=\"700\" y1=\"" << number(y) << "\" x2=\"736\" y2=\"" << number(y)
        << "\" stroke=\"" << curve.colour << "\" stroke-width=\"1.6\"";
    if (*curve.dash) out << " stroke-dasharray=\"" << curve.dash << "\"";
    out << "/>\n"
        << marker(curve, 718, y, false, curve.name) << '\n'
        << "<text x=\"746\" y=\"" << number(y + 4) << "\">" << curve.name << "</text>\n";
    y += 24;
  }
  if (anyHollow) {
    const char* const note[] = {"Hollow marks: no error seen;", "SER drawn at 1/symbols,",
                                "a rate of 0 on the bottom edge"};
    for (const char* line : note) {
      out << "<text x=\"700\" y=\"" << number(y + 4) << "\" font-size=\"11\" fill=\"#444444\">"
          << line << "</text>\n";
      y += 15;
    }
  }
  out << "</g>\n";
}

}  // namespace nbsim
