// The report's texts.
#include "output/report_writer.h"

#include <string>

#include "output/number_format.h"

namespace nbsim {

using text::formatFixed;
using text::formatInteger;
using text::formatScientific;

bool ReportWriter::start(const RunDescription& run) {
  const RunParameters& parameters = run.parameters;
  report_ << "Используемые при моделировании параметры:\n";
  report_ << "Q=" << formatInteger(parameters.Q) << "\n";
  report_ << "volume=" << formatInteger(parameters.volumeAsRead()) << "\n";
  report_ << "P0_low=" << formatFixed(parameters.P0_first, 5) << "\n";
  report_ << "P0_high=" << formatFixed(parameters.P0_last, 5) << "\n";
  report_ << "P0_step=" << formatFixed(parameters.P0_step, 5) << "\n";
  report_.flush();
  // A report that cannot take its header takes no point either.
  if (!report_.good()) return false;
  report_ << "\nПараметры канала связи:\n";
  report_ << "Q-ичный симметричный канал\n";
  writeCodeDescription(run.codec);
  return true;
}

void ReportWriter::writeCodeDescription(const NonBinaryCodec& codec) {
  report_ << "\nПараметры недвоичного кодера\n";
  report_ << "Количество информационных ветвей: nk=" << formatInteger(codec.nk())
          << "\nКоличество проверочных ветвей: nr=" << formatInteger(codec.nr()) << "\n";
  report_ << "Количество возможных значений символа: Q=" << formatInteger(codec.alphabetSize(), 4)
          << "\n";
  report_ << "Кодовая скорость: R=" << formatFixed(codec.codeRate(), 2, 4) << "\n";
  report_ << "Образующий полином:\n";
  for (std::int32_t v = 0; v < codec.nr(); ++v) {
    for (std::int32_t i = 0; i < codec.nk(); ++i) {
      const std::vector<std::int32_t>& taps = codec.taps(i, v);
      report_ << "  i=" << formatInteger(i) << "  v=" << formatInteger(v) << " ";
      report_ << " " << formatInteger(static_cast<std::int64_t>(taps.size())) << " ";
      for (std::int32_t t : taps) report_ << " " << formatInteger(t) << " ";
      report_ << "\n";
    }
  }
  report_ << "Кодовое расстояние: " << formatInteger(codec.codeDistance()) << "\n";
  report_ << "Длина кода: "
          << formatInteger(static_cast<std::int64_t>(codec.nk() + codec.nr()) * codec.blockLength())
          << "\n";
  report_ << "Количество итераций декодирования: " << formatInteger(codec.itert()) << "\n\n";
}

bool ReportWriter::point(const PointResult& point) {
  const PointCounters& counters = point.counters;
  const double blockErrorRate =
      static_cast<double>(counters.blockErrors) / static_cast<double>(counters.blocks);
  report_ << "\n---------------------------------------------------------------";
  report_ << "\nВероятность ошибки в канале: P0=" << formatScientific(point.P0, 2, 6) << "\n";
  report_ << "\nКоличество переданных блоков = " << formatInteger(counters.blocks) << "\n";
  report_ << "Количество переданных информационных символов = "
          << formatInteger(counters.infoSymbols) << "\n";
  writeIterationTable(point.stats);
  // The rate is stored as a float before it is printed.
  report_ << "Вероятность ошибки на символ на выходе недвоичного декодера составила "
          << formatScientific(static_cast<float>(point.ser), 2, 6) << "\n";
  report_ << "Вероятность ошибки на блок на выходе недвоичного декодера составила "
          << formatScientific(blockErrorRate, 2, 6) << "\n";
  report_.flush();
  return report_.good();
}

void ReportWriter::writeIterationTable(const IterationStats& stats) {
  report_ << "\nРезультаты моделирования\nНомер итерации:\n";
  for (std::size_t k = 0; k < stats.errors.size(); ++k) {
    report_ << formatInteger(static_cast<std::int64_t>(k), 10);
  }
  report_ << "\nКоличество ошибок на выходе различных итераций декодирования:\n";
  for (std::int64_t count : stats.errors) report_ << formatInteger(count, 10);
  report_ << "\n\nВероятность ошибки на выходе различных итераций декодирования:\n";
  for (float rate : stats.errorRates()) report_ << formatScientific(rate, 2, 10);
  report_ << "\n\n";
}

void ReportWriter::finish(const RunOutcome&) { report_.flush(); }

}  // namespace nbsim
