// The console and report lines whose form does not show in a short golden run: the start time
// with a one-digit day and in another time zone, infinite speed, and counts beyond 32 bits.
#include "output/console_writer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <sstream>
#include <string>

#include "output/report_writer.h"
#include "tests/support/input_files.h"

namespace nbsim {
namespace {

// The start time line of a run started at `second`.`millisecond` in time zone `zone`.
std::string startTimeLine(const char* zone, std::int64_t second, std::int32_t millisecond) {
  setenv("TZ", zone, 1);
  tzset();
  const RunParameters parameters;
  CodeDescription code;
  code.nk = code.nr = 1;
  const NonBinaryCodec codec(code, 4, 3);
  std::ostringstream console;
  ConsoleWriter(console, console)
      .start(RunDescription{parameters, codec, 0, 0, second, millisecond});
  setenv("TZ", "UTC", 1);
  tzset();
  const std::string text = console.str();
  return text.substr(text.find("\nStart time"));
}

TEST(ConsoleWriter, StartTimeUsesEnglishNamesATwoDigitDayAndTheLocalTimeZone) {
  // Fri Mar 5 01:04:05 2021 UTC, and Sun Dec 06 06:27:11 2020 UTC in Tokyo.
  EXPECT_EQ(startTimeLine("UTC", 1614906245, 7), "\nStart time: Fri Mar 05 01:04:05.007\n");
  EXPECT_EQ(startTimeLine("Asia/Tokyo", 1607236031, 999),
            "\nStart time: Sun Dec 06 15:27:11.999\n");
}

TEST(ConsoleWriter, TimingShowsSecondsMillisecondsAndAnInfiniteSpeed) {
  PointResult point;
  point.counters.blocks = 1;
  point.counters.infoSymbols = 700;
  std::ostringstream console;
  ConsoleWriter writer(console, console);
  writer.point(point);
  console.str("");
  writer.finish(RunOutcome{SweepOutcome::completed, 0, 0});
  EXPECT_EQ(console.str(), "Modeling time: 0.000 s\nModeling speed:    inf kbps\n");
  console.str("");
  writer.finish(RunOutcome{SweepOutcome::interrupted, 12, 5});
  EXPECT_EQ(console.str(), "");
}

TEST(ReportWriter, PrintsCountsBeyond32BitsAsTheyAre) {
  PointResult point;
  point.P0 = -1.0f;
  point.stats.reset(3);
  point.counters.blocks = 4294967295LL;
  point.counters.infoSymbols = 4294967295LL;
  point.ser = 1.0 / 4294967295.0;
  std::ostringstream bytes;
  std::ostringstream console;
  ReportWriter(bytes).point(point);
  ConsoleWriter(console, console).point(point);
  EXPECT_NE(bytes.str().find(testing::windows1251("Количество переданных блоков = 4294967295\n")),
            std::string::npos);
  EXPECT_NE(bytes.str().find(" = 4294967295\r\n\r\n"), std::string::npos);
  EXPECT_EQ(console.str(),
            "P0 is -1.00e+000     Decoder SER is 2.33e-010     Decoder FER is 0.00e+000\n");
}

}  // namespace
}  // namespace nbsim
