// Runs compared on one plot: two runs read back from their folders, each with its curves, bars
// and legend entry; a run that is missing or broken gives one line and no picture.
#include "output/run_comparison.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "tests/support/in_process_run.h"
#include "tests/support/input_files.h"
#include "tests/support/xml_tree.h"

namespace nbsim {
namespace {

using testing::ProgramFolder;
using testing::XmlElement;

std::size_t countOf(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

// The children of the groups of `kind` within curve `id`.
std::size_t countIn(const XmlElement& root, const std::string& id, const std::string& kind) {
  std::vector<const XmlElement*> series;
  std::vector<const XmlElement*> groups;
  root.collect("id", id, series);
  if (series.size() == 1) series[0]->collect("class", kind, groups);
  std::size_t count = 0;
  for (const XmlElement* group : groups) count += group->children.size();
  return count;
}

TEST(RunComparison, DrawsEachRunWithItsBarsAndALegendFromItsCode) {
  ProgramFolder first;
  first.write("param.txt", testing::parameterFile("16", "0.2", "0.05", "0.01", "3000", "20", "3"));
  first.write("encoder.txt", testing::shortCode);
  ASSERT_EQ(testing::runIn(first, {{1607236031, 0}}).status, 0);
  ProgramFolder second;
  second.write("param.txt", testing::parameterFile("4", "0.2", "0.1", "0.02", "3000", "20", "3"));
  second.write("encoder.txt", testing::exampleCode);
  ASSERT_EQ(testing::runIn(second, {{1607236031, 0}}).status, 0);

  std::ostringstream svg;
  std::ostringstream errors;
  ASSERT_TRUE(writeRunComparison({first.path(), second.path()}, svg, errors)) << errors.str();
  EXPECT_EQ(errors.str(), "");
  std::string error;
  const auto root = testing::XmlReader().read(svg.str(), error);
  ASSERT_TRUE(root) << error;
  const std::size_t rows[] = {countOf(first.read("result.csv"), "\r\n") - 1,
                              countOf(second.read("result.csv"), "\r\n") - 1};
  EXPECT_EQ(rows[0], 15u);
  EXPECT_EQ(rows[1], 6u);
  for (int run = 0; run < 2; ++run) {
    for (const char* rate : {"-ser", "-fer"}) {
      const std::string id = "run" + std::to_string(run + 1) + rate;
      EXPECT_EQ(countIn(*root, id, "markers"), rows[run]) << id;
      EXPECT_EQ(countIn(*root, id, "error-bars"), rows[run]) << id;
    }
  }
  std::vector<const XmlElement*> legends;
  root->collect("class", "run", legends);
  EXPECT_EQ(legends.size(), 2u);
  EXPECT_NE(svg.str().find(">Q=16, nk=1, nr=1, L=7<"), std::string::npos);
  EXPECT_NE(svg.str().find(">Q=4, nk=1, nr=1, L=69<"), std::string::npos);
  EXPECT_NE(svg.str().find(">taps 0 1 4 9 15 22 32 34<"), std::string::npos);
}

TEST(RunComparison, AMissingOrBrokenRunGivesOneLineAndNoPicture) {
  ProgramFolder run;
  run.write("param.txt", testing::parameterFile("16", "0.2", "0.1", "0.05", "3000", "20", "3"));
  run.write("encoder.txt", testing::shortCode);
  ASSERT_EQ(testing::runIn(run, {{1607236031, 0}}).status, 0);
  const std::string csv = run.read("result.csv");
  const auto compare = [&](const std::vector<std::filesystem::path>& runs) {
    std::ostringstream svg;
    std::ostringstream errors;
    EXPECT_FALSE(writeRunComparison(runs, svg, errors));
    EXPECT_EQ(svg.str(), "");
    EXPECT_EQ(countOf(errors.str(), "\n"), 1u);
    return errors.str();
  };
  EXPECT_EQ(compare({run.path(), run.path() / "nothing"}),
            "nbsim: " + (run.path() / "nothing").string() + ": is no folder of a run\n");
  // A row cut short.
  run.write("result.csv", csv.substr(0, csv.rfind(',')) + "\r\n");
  EXPECT_EQ(compare({run.path()}), "nbsim: " + (run.path() / "result.csv").string() + ": record " +
                                       std::to_string(countOf(csv, "\r\n")) +
                                       ": 19 fields where the header has 20\n");
  run.write("result.csv", csv);
  run.write("result.json", "{\"seed\": 1}");
  EXPECT_NE(compare({run.path()}).find("result.json: does not describe a run"), std::string::npos);
  std::filesystem::remove(run.path() / "result.json");
  EXPECT_NE(compare({run.path()}).find("result.json: cannot be read: No such file"),
            std::string::npos);
  compare({});
}

}  // namespace
}  // namespace nbsim
