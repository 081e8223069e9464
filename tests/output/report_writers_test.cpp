// The run's console lines whose form does not show in a short golden run: the start time with a
// one-digit day, long elapsed times, and infinite speed.
#include "run/report_writers.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <sstream>
#include <string>

#include "channel/qary_symmetric_channel.h"

namespace nbsim {
namespace {

TEST(PrintStartTime, UsesEnglishNamesAndATwoDigitDay) {
  setenv("TZ", "UTC", 1);
  tzset();
  std::ostringstream console;
  printStartTime(console, ClockReading{1614906245, 7});  // Fri Mar 5 01:04:05 2021 UTC
  EXPECT_EQ(console.str(), "\nStart time: Fri Mar 05 01:04:05.007\n");
}

TEST(PrintStartTime, FollowsTheLocalTimeZone) {
  setenv("TZ", "Asia/Tokyo", 1);
  tzset();
  std::ostringstream console;
  printStartTime(console, ClockReading{1607236031, 999});
  setenv("TZ", "UTC", 1);
  tzset();
  EXPECT_EQ(console.str(), "\nStart time: Sun Dec 06 15:27:11.999\n");
}

TEST(PrintRunTiming, PrintsSecondsMillisecondsAndSpeed) {
  std::ostringstream console;
  printRunTiming(console, 12, 5, 1234.567);
  EXPECT_EQ(console.str(), "Modeling time: 12.005 s\nModeling speed: 1234.57 kbps\n");
  std::ostringstream zero;
  printRunTiming(zero, 0, 0, 700.0 / 0.0);
  EXPECT_EQ(zero.str(), "Modeling time: 0.000 s\nModeling speed:    inf kbps\n");
}

TEST(WritePointReport, PrintsCountsBeyond32BitsAsTheyAre) {
  IterationStats stats;
  stats.reset(3);
  QarySymmetricChannel channel;
  channel.setErrorProbability(-1.0f);
  std::ostringstream bytes;
  text::ReportStream report(bytes);
  std::ostringstream console;
  writePointReport(report, console, -1.0f, channel, stats, 4294967295LL, 4294967295LL, 0,
                   1.0f / 4294967295.0f);
  // "Количество переданных блоков = " in Windows-1251.
  const std::string blocksLine =
      "\xCA\xEE\xEB\xE8\xF7\xE5\xF1\xF2\xE2\xEE \xEF\xE5\xF0\xE5\xE4\xE0\xED\xED\xFB\xF5 "
      "\xE1\xEB\xEE\xEA\xEE\xE2 = 4294967295\r\n";
  EXPECT_NE(bytes.str().find(blocksLine), std::string::npos);
  EXPECT_NE(bytes.str().find(" = 4294967295\r\n\r\n"), std::string::npos);
  EXPECT_EQ(console.str(),
            "P0 is -1.00e+000     Decoder SER is 2.33e-010     Decoder FER is 0.00e+000\n");
}

}  // namespace
}  // namespace nbsim
