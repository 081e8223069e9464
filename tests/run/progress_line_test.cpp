// The progress line as a terminal shows it: nothing off a terminal, nothing in the first half
// second, at most ten drawings a second, never as wide as the terminal, and nothing left behind
// once it is erased.
#include "run/progress_line.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace nbsim {
namespace {

PointStatus status(std::int64_t elapsed, std::int64_t infoSymbols = 6900) {
  return PointStatus{0.24f, infoSymbols, 1000000, 12, 100, elapsed};
}

// What the screen's line shows after `bytes` went to a terminal: a carriage return goes back to
// the start of the line, and every other character overwrites the one under the cursor.
std::string screen(const std::string& bytes) {
  std::string line;
  std::size_t cursor = 0;
  for (const char c : bytes) {
    if (c == '\r') {
      cursor = 0;
      continue;
    }
    if (cursor == line.size()) line += ' ';
    line[cursor++] = c;
  }
  return line.substr(0, line.find_last_not_of(' ') + 1);
}

TEST(ProgressLine, ShowsCountsOutOfTheirLimitsAndTheTimeButOnlyOnATerminal) {
  EXPECT_EQ(ProgressLine::text(status(3250)),
            "P0 2.40e-001: 6900/1000000 symbols, 12/100 block errors, 3.2 s");
  // A volume of -1 is the limit 4294967295; from a minute on the time reads h:mm:ss.
  EXPECT_EQ(ProgressLine::text(PointStatus{0.002f, 5, 4294967295u, 0, 7, 3723000}),
            "P0 2.00e-003: 5/4294967295 symbols, 0/7 block errors, 1:02:03");
  std::ostringstream out;
  ProgressLine line(out, false, 80);
  line.show(status(5000), 5000);
  line.erase();
  EXPECT_EQ(out.str(), "");
}

TEST(ProgressLine, WaitsHalfASecondThenRedrawsAtMostTenTimesASecond) {
  std::ostringstream out;
  ProgressLine line(out, true, 80);
  line.show(status(499), 1499);
  EXPECT_EQ(out.str(), "");
  int drawings = 0;
  for (std::int64_t elapsed = 500; elapsed < 1500; elapsed += 7) {
    const std::size_t before = out.str().size();
    line.show(status(elapsed), 1000 + elapsed);
    drawings += out.str().size() != before;
  }
  EXPECT_EQ(drawings, 10);
  EXPECT_EQ(screen(out.str()), ProgressLine::text(status(1400)));
}

TEST(ProgressLine, ErasingLeavesABlankLineAndAShorterLineCoversALongerOne) {
  std::ostringstream out;
  ProgressLine line(out, true, 80);
  line.show(status(600, 123456789), 600);
  line.show(status(700, 1), 700);
  EXPECT_EQ(screen(out.str()), ProgressLine::text(status(700, 1)));
  line.erase();
  EXPECT_EQ(screen(out.str()), "");
  EXPECT_EQ(out.str().back(), '\r');
  // Erasing again, or with nothing shown, writes nothing.
  const std::size_t size = out.str().size();
  line.erase();
  EXPECT_EQ(out.str().size(), size);
}

TEST(ProgressLine, NeverReachesTheLastColumnOfTheTerminal) {
  std::ostringstream out;
  ProgressLine(out, true, 20).show(status(600), 600);
  EXPECT_EQ(out.str(), "\rP0 2.40e-001: 6900/");
}

}  // namespace
}  // namespace nbsim
