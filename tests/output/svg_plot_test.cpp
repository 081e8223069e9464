// The plot: a well-formed, self-contained SVG with one mark per point on every curve, P0
// decreasing to the right, one error bar per point on the decoder's curves, hollow marks at the
// upper bound where no error was seen and none for what cannot be placed; the plot that a whole
// run leaves beside its report, rewritten as the points come but not more often than the clock
// allows.
#include "output/svg_plot.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "output/plot_writer.h"
#include "tests/support/in_process_run.h"
#include "tests/support/input_files.h"
#include "tests/support/xml_tree.h"

namespace nbsim {
namespace {

using testing::XmlElement;

const char* const curves[] = {"decoder-ser", "decoder-fer", "channel-ser"};

// A point of `blocks` blocks of 100 information symbols.
PointResult point(float P0, std::int64_t blocks, std::int32_t blockErrors,
                  std::int64_t symbolErrors, std::int64_t received) {
  PointResult result;
  result.P0 = P0;
  // The wrong symbols spread evenly over the wrong blocks.
  result.counters = {blocks, blockErrors, blocks * 100, symbolErrors,
                     blockErrors > 0 ? symbolErrors * symbolErrors / blockErrors : 0};
  result.ser = static_cast<double>(std::max<std::int64_t>(symbolErrors, 1)) / (blocks * 100.0);
  result.stats.errors = {received, symbolErrors};
  result.stats.decodedSymbols = blocks * 100;
  return result;
}

std::unique_ptr<XmlElement> parse(const std::string& svg) {
  std::string error;
  auto root = testing::XmlReader().read(svg, error);
  EXPECT_TRUE(root) << error;
  return root;
}

std::string draw(const std::vector<PointResult>& points) {
  SvgPlot plot("Q=16, nk=1, nr=1, L=7, itert=1, run seed 1");
  for (const PointResult& p : points) plot.reportPoint(p);
  std::ostringstream out;
  plot.write(out);
  return out.str();
}

// The marks of curve `id`.
std::vector<const XmlElement*> marks(const XmlElement& root, const std::string& id) {
  std::vector<const XmlElement*> series;
  std::vector<const XmlElement*> groups;
  root.collect("id", id, series);
  if (series.size() == 1) series[0]->collect("class", "markers", groups);
  std::vector<const XmlElement*> found;
  for (const XmlElement* group : groups) {
    for (const auto& mark : group->children) found.push_back(mark.get());
  }
  return found;
}

// The error bars of curve `id`.
std::vector<const XmlElement*> bars(const XmlElement& root, const std::string& id) {
  std::vector<const XmlElement*> series;
  std::vector<const XmlElement*> groups;
  root.collect("id", id, series);
  if (series.size() == 1) series[0]->collect("class", "error-bars", groups);
  std::vector<const XmlElement*> found;
  for (const XmlElement* group : groups) {
    for (const auto& bar : group->children) found.push_back(bar.get());
  }
  return found;
}

// A mark's horizontal place, whatever its shape (a triangle's apex comes first).
double xOf(const XmlElement& mark) {
  if (mark.name == "circle") return std::stod(mark.attributes.at("cx"));
  if (mark.name == "rect") return std::stod(mark.attributes.at("x")) + 3;
  return std::stod(mark.attributes.at("points"));
}

TEST(SvgPlot, MarksEveryPointOnEveryCurveWithP0DecreasingToTheRight) {
  const std::string svg = draw({point(0.3f, 10, 9, 400, 300), point(0.2f, 20, 7, 90, 400),
                                point(0.1f, 40, 1, 2, 400), point(0.05f, 80, 0, 0, 400)});
  const auto root = parse(svg);
  ASSERT_TRUE(root);
  EXPECT_EQ(root->attributes.at("xmlns"), "http://www.w3.org/2000/svg");
  for (const char* id : curves) {
    SCOPED_TRACE(id);
    const auto found = marks(*root, id);
    ASSERT_EQ(found.size(), 4u);
    for (std::size_t i = 1; i < found.size(); ++i) EXPECT_GT(xOf(*found[i]), xOf(*found[i - 1]));
    // Only the last point saw no error; the channel always did.
    for (std::size_t i = 0; i < found.size(); ++i) {
      const bool hollow = found[i]->attributes.at("fill") == "#ffffff";
      EXPECT_EQ(hollow, i == 3 && id != std::string("channel-ser")) << i;
    }
    // One bar per point on the decoder's curves: an interval, or an upper bound without errors.
    const auto errorBars = bars(*root, id);
    if (id == std::string("channel-ser")) {
      EXPECT_TRUE(errorBars.empty());
      continue;
    }
    ASSERT_EQ(errorBars.size(), 4u);
    for (std::size_t i = 0; i < errorBars.size(); ++i) {
      EXPECT_EQ(errorBars[i]->attributes.at("class"), i == 3 ? "upper-bound" : "interval") << i;
    }
  }
  for (const char* outside : {"<script", "href", "url(", "@font-face", "@import"}) {
    EXPECT_EQ(svg.find(outside), std::string::npos) << outside;
  }
  for (const char* words : {"Decoder SER", "Decoder FER", "Channel SER", "P0", "Error rate"}) {
    EXPECT_NE(svg.find(words), std::string::npos) << words;
  }
}

TEST(SvgPlot, LeavesUnmarkedWhatCannotBePlacedAndDrawsAnEmptySweep) {
  PointResult empty = point(0.2f, 0, 0, 0, 0);  // no block: SER inf, FER and rates nan
  empty.ser = std::numeric_limits<double>::infinity();
  const auto root = parse(draw({point(0.3f, 10, 9, 400, 300), empty,
                                point(std::numeric_limits<float>::infinity(), 10, 10, 50, 50)}));
  ASSERT_TRUE(root);
  for (const char* id : curves) EXPECT_EQ(marks(*root, id).size(), 1u) << id;
  const std::string none = draw({});
  ASSERT_TRUE(parse(none));
  EXPECT_NE(none.find("No point to plot"), std::string::npos);
}

TEST(SvgPlot, AWholeRunPlotsEveryPointItReportsOrSaysWhyItCannot) {
  testing::ProgramFolder folder;
  folder.write("param.txt", testing::parameterFile("16", "0.2", "0.05", "0.01", "3000", "20", "3"));
  folder.write("encoder.txt", testing::shortCode);
  const auto run = testing::runIn(folder, {{1607236031, 0}});
  ASSERT_EQ(run.status, 0) << run.errors;
  std::size_t points = 0;
  for (std::size_t at = run.console.find("P0 is "); at != std::string::npos;
       at = run.console.find("P0 is ", at + 1)) {
    ++points;
  }
  EXPECT_EQ(points, 15u);  // 0.2 down to 0.06: the float steps fall just short of 0.05
  const auto root = parse(folder.read("result.svg"));
  ASSERT_TRUE(root);
  for (const char* id : curves) EXPECT_EQ(marks(*root, id).size(), points) << id;
  EXPECT_EQ(bars(*root, "decoder-ser").size(), points);
  EXPECT_EQ(bars(*root, "decoder-fer").size(), points);

  // A directory of that name, with something in it, stands in the way of the next run's plot.
  std::filesystem::remove(folder.path() / "result.svg");
  std::filesystem::create_directories(folder.path() / "result.svg" / "kept");
  const auto blocked = testing::runIn(folder, {{1607236031, 0}});
  EXPECT_EQ(blocked.status, exitResultsFile);
  EXPECT_EQ(blocked.errors, "nbsim: " + (folder.path() / "result.svg").string() +
                                ": cannot be opened for writing: Is a directory\n");
  EXPECT_EQ(blocked.report, run.report);
  EXPECT_EQ(blocked.keyPresses, 1);
  EXPECT_TRUE(std::filesystem::exists(folder.path() / "result.svg" / "kept"));
}

TEST(PlotWriter, RewritesThePictureAsPointsComeAtMostFourTimesASecond) {
  testing::ProgramFolder folder;
  const std::string path = (folder.path() / "result.svg").string();
  std::ostringstream errors;
  std::int64_t now = 1000;
  PlotWriter writer(path, errors, [&now] { return now; });
  CodeDescription code;
  code.nk = 1;
  code.nr = 1;
  code.polynomials[0][0].taps = {0, 1, 3};
  const RunParameters parameters;
  const NonBinaryCodec codec(code, 16, 1);
  ASSERT_TRUE(writer.start(RunDescription{parameters, codec}));
  const auto drawn = [&] {
    const auto root = parse(folder.read("result.svg"));
    return root ? marks(*root, "decoder-ser").size() : 0u;
  };
  const float P0s[] = {0.3f, 0.2f, 0.1f, 0.05f};
  const std::int64_t times[] = {1000, 1100, 1250, 1300};
  const std::size_t expected[] = {1, 1, 3, 3};
  for (int k = 0; k < 4; ++k) {
    now = times[k];
    writer.point(point(P0s[k], 10, 1, 3, 20));
    EXPECT_EQ(drawn(), expected[k]) << k;
  }
  writer.finish(RunOutcome{});
  EXPECT_EQ(drawn(), 4u);
  EXPECT_EQ(errors.str(), "");
  // Only the picture: no temporary file is left.
  std::size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder.path())) {
    files += entry.path().filename().string().find("result.svg") != std::string::npos;
  }
  EXPECT_EQ(files, 1u);
}

}  // namespace
}  // namespace nbsim
