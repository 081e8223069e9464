// The run's console lines whose form does not show in a short golden run: the start time with a
// one-digit day, long elapsed times, and infinite speed.
#include "run/report_writers.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <sstream>

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

}  // namespace
}  // namespace nbsim
