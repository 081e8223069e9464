// Faults that would lose output: a report that cannot be written ends the run with a message and
// a failure status instead of simulating on, and an interrupted sweep leaves a report that ends
// with its last complete point.
#include <gtest/gtest.h>

#include <streambuf>
#include <string>

#include "code/nonbinary_codec.h"
#include "engine/sweep.h"
#include "output/console_writer.h"
#include "output/report_writer.h"
#include "run/run_sequence.h"
#include "tests/run/program_runner.h"
#include "tests/support/input_files.h"

namespace nbsim::testing {
namespace {

std::size_t countOf(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

TEST(ReportFaults, AFullDiskEndsTheRunWithItsReasonBeforeAnyPoint) {
  ProgramFolder folder;
  folder.write("param.txt", parameterFile("256", "0.2", "0.02", "0.002", "100000", "100", "10"));
  folder.write("encoder.txt", shortCode);
  std::filesystem::create_symlink("/dev/full", folder.path() / "result.txt");
  const ProgramOutcome outcome = folder.run();
  EXPECT_EQ(outcome.exitStatus, exitReportFile);
  EXPECT_EQ(outcome.errors, "nbsim: result.txt: cannot be written: No space left on device\n");
  // The header reached the console; no point was simulated and no key is awaited.
  EXPECT_EQ(countOf(outcome.console, "P0 is "), 0u);
  EXPECT_EQ(countOf(outcome.console, "strike any key"), 0u);
}

// Takes `capacity` bytes, then refuses every write.
class FillingBuffer : public std::streambuf {
 public:
  explicit FillingBuffer(std::size_t capacity) : capacity_(capacity) {}
  std::string taken;

 protected:
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    if (taken.size() >= capacity_) return traits_type::eof();
    taken.push_back(traits_type::to_char_type(c));
    return c;
  }

 private:
  std::size_t capacity_;
};

TEST(ReportFaults, ASweepStopsAtThePointWhoseReportCannotBeWritten) {
  CodeDescription code;
  code.nk = 1;
  code.nr = 1;
  code.polynomials[0][0].taps = {0, 1, 3};
  RunParameters parameters;
  parameters.Q = 16;
  parameters.P0_first = 0.3f;
  parameters.P0_last = 0.01f;
  parameters.P0_step = 0.01f;
  parameters.volume = 700;
  parameters.itert = 3;
  const NonBinaryCodec codec(code, parameters.Q, parameters.itert);
  for (const bool fast : {false, true}) {
    for (const std::int32_t threads : {1, 2}) {
      // Room for a few of the thirty point blocks.
      FillingBuffer buffer(2500);
      std::ostream bytes(&buffer);
      ReportWriter report(bytes);
      std::ostringstream console;
      ConsoleWriter consoleLines(console, console);
      RunListeners outputs;
      outputs.add(consoleLines);
      outputs.add(report);
      SweepOptions options;
      options.fast = fast;
      options.threads = threads;
      std::int64_t reported = 0;
      EXPECT_EQ(sweepErrorProbability(codec, parameters, 1234, options,
                                      [&](const PointResult& point) {
                                        if (!outputs.point(point)) return false;
                                        ++reported;
                                        return true;
                                      }),
                SweepOutcome::refused);
      EXPECT_GE(reported, 1);
      EXPECT_LE(reported, 4);
      // The failing point still shows on the console; nothing after it.
      EXPECT_EQ(countOf(console.str(), "P0 is "), static_cast<std::size_t>(reported) + 1);
      EXPECT_NE(report.failure(), 0);
    }
  }
}

struct Interrupted {
  int status = -1;
  std::string errors;
  std::string report;
  std::string csv;
  std::string json;
  bool plotted = false;
  std::size_t consolePoints = 0;
};

// Starts a long sweep, sends `signal` once the report holds three points, and waits.
Interrupted interruptLongSweep(const char* signal, int threads) {
  ProgramFolder folder;
  folder.write("param.txt",
               parameterFile("256", "0.1", "0.001", "0.0001", "1000000", "1000000", "10"));
  folder.write("encoder.txt", exampleCode);
  const std::string command =
      "cd '" + folder.path().string() + "' || exit 99; NBSIM_THREADS=" + std::to_string(threads) +
      " '" NBSIM_BINARY
      "' </dev/null >stdout.captured 2>stderr.captured & pid=$!; "
      "for n in $(seq 600); do "
      "n=$(grep -c -a 'P0=' result.txt 2>/dev/null); [ \"${n:-0}\" -ge 3 ] && break; sleep 0.05; "
      "done; kill -" +
      std::string(signal) + " $pid; wait $pid; exit $?";
  const int status = std::system(command.c_str());
  Interrupted run;
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.errors = folder.read("stderr.captured");
  run.report = folder.read("result.txt");
  run.csv = folder.read("result.csv");
  run.json = folder.read("result.json");
  run.plotted = folder.exists("result.svg");
  run.consolePoints = countOf(folder.read("stdout.captured"), "P0 is ");
  return run;
}

// The last line of a point block.
const std::string blockErrorLine =
    windows1251("Вероятность ошибки на блок на выходе недвоичного декодера составила ");

TEST(Interruption, LeavesEveryCompletedPointAndNothingElse) {
  for (const auto& [signal, number, threads] :
       {std::tuple{"INT", 2, 1}, std::tuple{"TERM", 15, 2}, std::tuple{"HUP", 1, 2}}) {
    const Interrupted run = interruptLongSweep(signal, threads);
    SCOPED_TRACE(std::string("SIG") + signal);
    EXPECT_EQ(run.status, 128 + number);
    const std::size_t points = countOf(run.report, "P0=");
    ASSERT_GE(points, 3u);
    EXPECT_EQ(run.errors, "nbsim: interrupted by SIG" + std::string(signal) +
                              "; result.txt holds the " + std::to_string(points) +
                              " completed points; nbsim --resume goes on from there\n");
    EXPECT_EQ(run.consolePoints, points);
    EXPECT_EQ(countOf(run.report, blockErrorLine), points);
    // The CSV has a row for each of them, the JSON says so, and the plot is there.
    EXPECT_EQ(countOf(run.csv, "\r\n0."), points);
    EXPECT_NE(
        run.json.find("\"outcome\": \"interrupted\",\n  \"points\": " + std::to_string(points)),
        std::string::npos)
        << run.json;
    EXPECT_TRUE(run.plotted);
    // The report ends with the last point's block error line.
    const std::size_t last = run.report.rfind(blockErrorLine);
    ASSERT_NE(last, std::string::npos);
    EXPECT_EQ(run.report.find("\r\n", last), run.report.size() - 2);
  }
}

}  // namespace
}  // namespace nbsim::testing
