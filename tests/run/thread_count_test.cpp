// NBSIM_THREADS: a whole number 1..256 is taken as it is; anything else falls back to the core
// count with a warning, and no setting means every core.
#include "run/thread_count.h"

#include <gtest/gtest.h>

namespace nbsim {
namespace {

TEST(ThreadCount, TakesAWholeNumberAndFallsBackToTheCoresOtherwise) {
  std::string warning;
  EXPECT_EQ(threadCount(nullptr, 8, warning), 8);
  EXPECT_EQ(threadCount("", 8, warning), 8);
  EXPECT_EQ(threadCount(nullptr, 0, warning), 1);  // an unknown core count
  EXPECT_EQ(warning, "");
  EXPECT_EQ(threadCount("1", 8, warning), 1);
  EXPECT_EQ(threadCount("256", 8, warning), 256);
  EXPECT_EQ(warning, "");
  for (const char* bad : {"0", "-2", "257", "4x", "x", "2 ", "99999999999999999999"}) {
    warning.clear();
    EXPECT_EQ(threadCount(bad, 6, warning), 6) << bad;
    EXPECT_NE(warning.find("NBSIM_THREADS="), std::string::npos) << bad;
  }
}

}  // namespace
}  // namespace nbsim
