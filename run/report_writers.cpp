// The run's report and console texts.
#include "run/report_writers.h"

#include <ctime>
#include <string>

#include "text/number_format.h"

namespace nbsim {

using text::formatFixed;
using text::formatInteger;
using text::formatScientific;

namespace {

std::string twoDigits(int value) {
  return std::string{static_cast<char>('0' + value / 10), static_cast<char>('0' + value % 10)};
}

std::string threeDigits(int value) { return formatInteger(value / 100) + twoDigits(value % 100); }

}  // namespace

void writeParameterHeader(text::ReportStream& report, std::ostream& console,
                          const RunParameters& parameters) {
  const std::string Q = "Q=" + formatInteger(parameters.Q) + "\n";
  const std::string volume = "volume=" + formatInteger(parameters.volumeAsRead()) + "\n";
  const std::string first = "P0_low=" + formatFixed(parameters.P0_first, 5) + "\n";
  const std::string last = "P0_high=" + formatFixed(parameters.P0_last, 5) + "\n";
  const std::string step = "P0_step=" + formatFixed(parameters.P0_step, 5) + "\n";
  console << "Modeling parameters\n" << std::flush;
  report << "Используемые при моделировании параметры:\n";
  report << Q;
  console << Q << std::flush;
  for (const std::string* line : {&volume, &first, &last, &step}) {
    console << *line << std::flush;
    report << *line;
  }
  report.flush();
}

void printStartTime(std::ostream& console, const ClockReading& start) {
  static constexpr const char* weekdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                           "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const std::time_t seconds = static_cast<std::time_t>(start.seconds);
  std::tm local{};
  localtime_r(&seconds, &local);
  console << "\nStart time: " << weekdays[local.tm_wday] << ' ' << months[local.tm_mon] << ' '
          << twoDigits(local.tm_mday) << ' ' << twoDigits(local.tm_hour) << ':'
          << twoDigits(local.tm_min) << ':' << twoDigits(local.tm_sec) << '.'
          << threeDigits(start.milliseconds) << '\n'
          << std::flush;
}

void writePointReport(text::ReportStream& report, std::ostream& console, float P0,
                      const Channel& channel, const IterationStats& stats, std::int64_t blocks,
                      std::int64_t infoSymbols, std::int32_t blockErrors, float ser) {
  const double blockErrorRate = static_cast<double>(blockErrors) / static_cast<double>(blocks);
  report << "\n---------------------------------------------------------------";
  channel.writeParameters(report);
  report << "\nКоличество переданных блоков = " << formatInteger(blocks) << "\n";
  report << "Количество переданных информационных символов = " << formatInteger(infoSymbols)
         << "\n";
  writeIterationTable(report, stats);
  report << "Вероятность ошибки на символ на выходе недвоичного декодера составила "
         << formatScientific(ser, 2, 6) << "\n";
  report << "Вероятность ошибки на блок на выходе недвоичного декодера составила "
         << formatScientific(blockErrorRate, 2, 6) << "\n";
  console << "P0 is " << formatScientific(P0, 2, 6) << "     Decoder SER is "
          << formatScientific(ser, 2, 6) << "     Decoder FER is "
          << formatScientific(blockErrorRate, 2, 6) << "\n"
          << std::flush;
  report.flush();
}

void printRunTiming(std::ostream& console, std::int64_t seconds, std::int32_t milliseconds,
                    double speed) {
  console << "Modeling time: " << formatInteger(seconds) << '.' << threeDigits(milliseconds)
          << " s\n"
          << std::flush;
  console << "Modeling speed: " << formatFixed(speed, 2, 6) << " kbps\n" << std::flush;
}

void printClosingPrompt(std::ostream& console) { console << "strike any key" << std::flush; }

}  // namespace nbsim
