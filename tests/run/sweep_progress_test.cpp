// The sweep's progress line follows the point the console waits for and keeps off the screen
// while the console gets a line; a whole run drawing it on a terminal, on one thread or two,
// writes the same report and console as one without it and leaves nothing on the screen.
#include "run/sweep_progress.h"

#include <gtest/gtest.h>

#include <atomic>
#include <sstream>
#include <string>

#include "tests/support/in_process_run.h"
#include "tests/support/input_files.h"

namespace nbsim {
namespace {

// Time that moves only when a test says so, or by `step` at every reading.
class ManualClock : public ElapsedClock {
 public:
  explicit ManualClock(std::int64_t step = 0) : step_(step) {}
  std::int64_t milliseconds() override { return now.fetch_add(step_) + step_; }
  std::atomic<std::int64_t> now{0};

 private:
  std::int64_t step_;
};

TEST(SweepProgress, ShowsTheEarliestPointNotYetWritten) {
  std::ostringstream out;
  ManualClock clock;
  ProgressOutput output{&out, true, 200, &clock};
  SweepProgress progress(output, 2, 1000000, 100);
  // Thread 1 works on point 1, thread 0 on point 0, which the console waits for.
  progress.startPoint(progress.slot(1), 1, 0.22f);
  progress.startPoint(progress.slot(0), 0, 0.24f);
  PointCounters counters;
  counters.infoSymbols = 690;
  counters.blockErrors = 3;
  progress.slot(0).publish(counters);
  clock.now = 400;
  progress.tick();
  EXPECT_EQ(out.str(), "");  // not yet half a second
  clock.now = 600;
  progress.tick();
  EXPECT_EQ(out.str(), "\rP0 2.40e-001: 690/1000000 symbols, 3/100 block errors, 0.6 s");

  // Point 0 is written: the line goes and stays away until the console line is out.
  progress.suspend();
  const std::string erased = out.str();
  clock.now = 900;
  progress.tick();
  EXPECT_EQ(out.str(), erased);
  progress.watch(1);
  progress.tick();
  EXPECT_EQ(out.str().substr(erased.size()),
            "\rP0 2.20e-001: 0/1000000 symbols, 0/100 block errors, 0.9 s");

  // A point that no slot holds yet shows nothing.
  progress.suspend();
  progress.watch(2);
  clock.now = 2000;
  const std::string before = out.str();
  progress.tick();
  EXPECT_EQ(out.str(), before);
}

TEST(SweepProgress, DrawingOnATerminalChangesNeitherReportNorConsole) {
  testing::ProgramFolder folder;
  folder.write("param.txt",
               testing::parameterFile("256", "0.1", "0.06", "0.01", "600000", "1000000", "10"));
  folder.write("encoder.txt", testing::exampleCode);
  const std::vector<ClockReading> readings = {{1607236031, 0}, {1607236031, 1}, {1607236033, 0}};
  const auto plain = testing::runIn(folder, readings);
  ASSERT_EQ(plain.status, 0);
  for (const std::int32_t threads : {1, 2}) {
    SCOPED_TRACE(threads);
    // Every reading is a second later and the line looks every millisecond, so each point is
    // drawn many times.
    ManualClock clock(1000);
    std::ostringstream terminal;
    SweepOptions sweep;
    sweep.threads = threads;
    const ProgressOutput progress{&terminal, true, 100, &clock, std::chrono::milliseconds(1)};
    const auto run = testing::runIn(folder, readings, sweep, progress);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.report, plain.report);
    EXPECT_EQ(run.console, plain.console);
    EXPECT_EQ(run.errors, "");
    // Only drawings of the line and their erasure, which ends it.
    const std::string bytes = terminal.str();
    ASSERT_FALSE(bytes.empty());
    EXPECT_EQ(bytes.front(), '\r');
    EXPECT_EQ(bytes.back(), '\r');
    std::size_t drawings = 0;
    std::istringstream parts(bytes.substr(1));
    for (std::string part; std::getline(parts, part, '\r');) {
      const bool blank = part.find_first_not_of(' ') == std::string::npos;
      drawings += !blank;
      if (!blank) {
        EXPECT_EQ(part.rfind("P0 ", 0), 0u) << part;
      }
      EXPECT_EQ(part.find('\n'), std::string::npos);
    }
    EXPECT_GE(drawings, 1u);
    EXPECT_EQ(bytes.substr(bytes.rfind('\r', bytes.size() - 2) + 1).find_first_not_of(" \r"),
              std::string::npos);
  }
}

}  // namespace
}  // namespace nbsim
