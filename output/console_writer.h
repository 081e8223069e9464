// The console's English lines: the parameters, the start time, one line per point, the elapsed
// time and the speed, the closing prompt, and the message of a tap out of range. Every line is
// flushed as it is written, so that a user watching a long sweep sees each point when it ends.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include "output/run_listener.h"

namespace nbsim {

class ConsoleWriter : public RunListener {
 public:
  // Writes to `console`; a console that cannot be written (a closed pipe, say) is said once on
  // `errors` and given up, and the run goes on. Both must outlive the writer.
  ConsoleWriter(std::ostream& console, std::ostream& errors) : console_(console), errors_(errors) {}

  // "Modeling parameters" and the five value lines, an empty line and the start time as
  // "Start time: Sun Dec 06 06:27:11.005" (local time, English names whatever the locale).
  bool start(const RunDescription& run) override;
  // "P0 is %6.2e     Decoder SER is %6.2e     Decoder FER is %6.2e".
  bool point(const PointResult& point) override;
  // For a completed run: "Modeling time: <s>.<ms> s" and "Modeling speed: %6.2f kbps", the
  // thousands of information symbols per second.
  void finish(const RunOutcome& outcome) override;

  // "strike any key", without a line end.
  void printClosingPrompt();

  // The line of a resumed run, before its first point: the points that were done and the
  // information symbols of the next one that were simulated (0: it starts from its first block).
  void printResumed(std::int64_t pointsDone, std::int64_t nextPointSymbols);

  // True once the console could not be written.
  bool lost() const { return lost_; }

  // The message for a tap of 1000 or more in the code description, before its key wait.
  static void printTapRangeMessage(std::ostream& console);

 private:
  // Writes `text` and flushes it, while the console takes it.
  void write(const std::string& text);

  std::ostream& console_;
  std::ostream& errors_;
  bool lost_ = false;
  std::int64_t runInfoSymbols_ = 0;  // over every point written
};

}  // namespace nbsim
