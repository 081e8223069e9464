// The codec's two sections of the report: the code description and the per-iteration table.
#include <string>

#include "code/nonbinary_codec.h"
#include "text/number_format.h"

namespace nbsim {

using text::formatInteger;
using text::formatScientific;

void NonBinaryCodec::writeCodeDescription(text::ReportStream& report) const {
  report << "\nПараметры недвоичного кодера\n";
  report << "Количество информационных ветвей: nk=" << formatInteger(code_.nk)
         << "\nКоличество проверочных ветвей: nr=" << formatInteger(code_.nr) << "\n";
  report << "Количество возможных значений символа: Q=" << formatInteger(Q_, 4) << "\n";
  report << "Кодовая скорость: R=" << text::formatFixed(codeRate(), 2, 4) << "\n";
  report << "Образующий полином:\n";
  for (std::int32_t v = 0; v < code_.nr; ++v) {
    for (std::int32_t i = 0; i < code_.nk; ++i) {
      report << "  i=" << formatInteger(i) << "  v=" << formatInteger(v) << " ";
      report << " " << formatInteger(static_cast<std::int64_t>(taps(i, v).size())) << " ";
      for (std::int32_t t : taps(i, v)) report << " " << formatInteger(t) << " ";
      report << "\n";
    }
  }
  report << "Кодовое расстояние: " << formatInteger(codeDistance_) << "\n";
  report << "Длина кода: "
         << formatInteger(static_cast<std::int64_t>(code_.nk + code_.nr) * blockLength_) << "\n";
  report << "Количество итераций декодирования: " << formatInteger(itert()) << "\n\n";
}

void writeIterationTable(text::ReportStream& report, const IterationStats& stats) {
  report << "\nРезультаты моделирования\nНомер итерации:\n";
  for (std::size_t k = 0; k < stats.errors.size(); ++k) {
    report << formatInteger(static_cast<std::int64_t>(k), 10);
  }
  report << "\nКоличество ошибок на выходе различных итераций декодирования:\n";
  for (std::int64_t count : stats.errors) report << formatInteger(count, 10);
  report << "\n\nВероятность ошибки на выходе различных итераций декодирования:\n";
  for (float rate : stats.errorRates()) report << formatScientific(rate, 2, 10);
  report << "\n\n";
}

}  // namespace nbsim
