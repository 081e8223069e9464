// The console's texts.
#include "output/console_writer.h"

#include <ctime>
#include <string>

#include "output/number_format.h"

namespace nbsim {

using text::formatFixed;
using text::formatInteger;
using text::formatScientific;

namespace {

// `value` (0..10^digits - 1) with leading zeros.
std::string zeroPadded(std::int64_t value, int digits) {
  std::string text = formatInteger(value);
  return std::string(text.size() < static_cast<std::size_t>(digits) ? digits - text.size() : 0,
                     '0') +
         text;
}

}  // namespace

bool ConsoleWriter::start(const RunDescription& run) {
  const RunParameters& parameters = run.parameters;
  write("Modeling parameters\n");
  write("Q=" + formatInteger(parameters.Q) + "\n");
  write("volume=" + formatInteger(parameters.volumeAsRead()) + "\n");
  write("P0_low=" + formatFixed(parameters.P0_first, 5) + "\n");
  write("P0_high=" + formatFixed(parameters.P0_last, 5) + "\n");
  write("P0_step=" + formatFixed(parameters.P0_step, 5) + "\n");

  static constexpr const char* weekdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                           "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const auto seconds = static_cast<std::time_t>(run.startSecond);
  std::tm local{};
  localtime_r(&seconds, &local);
  write(std::string("\nStart time: ") + weekdays[local.tm_wday] + ' ' + months[local.tm_mon] + ' ' +
        zeroPadded(local.tm_mday, 2) + ' ' + zeroPadded(local.tm_hour, 2) + ':' +
        zeroPadded(local.tm_min, 2) + ':' + zeroPadded(local.tm_sec, 2) + '.' +
        zeroPadded(run.startMillisecond, 3) + '\n');
  return true;
}

bool ConsoleWriter::point(const PointResult& point) {
  const PointCounters& counters = point.counters;
  const double blockErrorRate =
      static_cast<double>(counters.blockErrors) / static_cast<double>(counters.blocks);
  write("P0 is " + formatScientific(point.P0, 2, 6) + "     Decoder SER is " +
        formatScientific(static_cast<float>(point.ser), 2, 6) + "     Decoder FER is " +
        formatScientific(blockErrorRate, 2, 6) + "\n");
  runInfoSymbols_ += counters.infoSymbols;
  return true;
}

void ConsoleWriter::finish(const RunOutcome& outcome) {
  if (outcome.sweep != SweepOutcome::completed) return;
  const double speed =
      static_cast<double>(runInfoSymbols_) /
      (outcome.elapsedMilliseconds * 0.001 + static_cast<double>(outcome.elapsedSeconds)) * 0.001;
  write("Modeling time: " + formatInteger(outcome.elapsedSeconds) + '.' +
        zeroPadded(outcome.elapsedMilliseconds, 3) + " s\n");
  write("Modeling speed: " + formatFixed(speed, 2, 6) + " kbps\n");
}

void ConsoleWriter::printClosingPrompt() { write("strike any key"); }

void ConsoleWriter::printResumed(std::int64_t pointsDone, std::int64_t nextPointSymbols) {
  std::string line = "Resumed after " + formatInteger(pointsDone) +
                     (pointsDone == 1 ? " point" : " points");
  if (nextPointSymbols > 0) {
    line += " and " + formatInteger(nextPointSymbols) + " information symbols of the next";
  }
  write(line + "\n");
}

void ConsoleWriter::write(const std::string& text) {
  if (lost_) return;
  console_ << text << std::flush;
  if (console_) return;
  lost_ = true;
  errors_ << "nbsim: standard output cannot be written; the run goes on without the console\n"
          << std::flush;
}

void ConsoleWriter::printTapRangeMessage(std::ostream& console) {
  console << "One check position is more or equal 1000 in encoder.txt \nCorect it and try again "
             "please\nPress any key"
          << std::flush;
}

}  // namespace nbsim
