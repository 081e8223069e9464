// The CSV rows and their comment lines.
#include "run/csv_results_writer.h"

#include <cerrno>
#include <string>

#include "run/program_version.h"
#include "text/number_format.h"

namespace nbsim {

using text::formatInteger;
using text::formatShortest;

void CsvResultsWriter::writeHeader(const RunParameters& parameters, const NonBinaryCodec& codec,
                                   std::int32_t runSeed, std::int64_t seedSecond) {
  std::int32_t nk = 0;
  std::int32_t nr = 0;
  codec.branchCounts(nk, nr);
  // The parameters and the code as "param.txt" and "encoder.txt" would give them (volume as
  // read, only the branches in use), each under the name of its file.
  std::string text = "# nbsim " + std::string(programVersion()) + "\r\n";
  text += "# run seed=" + formatInteger(runSeed) + " (the first source generator draw after " +
          "seeding with the clock second " + formatInteger(seedSecond) + ")\r\n";
  text += "# param.txt:\r\n";
  text += "# Q=" + formatInteger(parameters.Q) + "\r\n";
  text += "# P0_first=" + formatShortest(parameters.P0_first) + "\r\n";
  text += "# P0_last=" + formatShortest(parameters.P0_last) + "\r\n";
  text += "# P0_step=" + formatShortest(parameters.P0_step) + "\r\n";
  text += "# volume=" + formatInteger(parameters.volumeAsRead()) + "\r\n";
  text += "# minBlockErr=" + formatInteger(parameters.minBlockErr) + "\r\n";
  text += "# itert=" + formatInteger(codec.itert()) + "\r\n";
  text += "# encoder.txt:\r\n";
  text += "# nk=" + formatInteger(nk) + " nr=" + formatInteger(nr) + "\r\n";
  for (std::int32_t v = 0; v < nr; ++v) {
    for (std::int32_t i = 0; i < nk; ++i) {
      const std::vector<std::int32_t>& taps = codec.code().polynomials[i][v].taps;
      text += "# i=" + formatInteger(i) + " v=" + formatInteger(v) + " " +
              formatInteger(static_cast<std::int64_t>(taps.size()));
      for (const std::int32_t tap : taps) {
        text += ' ';
        text += formatInteger(tap);
      }
      text += "\r\n";
    }
  }
  text += "# L=" + formatInteger(codec.blockLength()) + "\r\n";
  text +=
      "# SER counts at least one symbol error, as the report does; errorsK and errorRateK "
      "are the information symbols wrong as received (K=0) and after decoder iteration K\r\n";
  text += "P0,blocks,infoSymbols,blockErrors,symbolErrors,SER,FER";
  for (std::int32_t k = 0; k <= codec.itert(); ++k) {
    text += ",errors";
    text += formatInteger(k);
    text += ",errorRate";
    text += formatInteger(k);
  }
  write(text + "\r\n");
}

void CsvResultsWriter::reportPoint(const PointResult& point) {
  const PointCounters& counters = point.counters;
  const IterationStats& stats = point.stats;
  const auto ratio = [](std::int64_t count, std::int64_t total) {
    return formatShortest(static_cast<double>(count) / static_cast<double>(total));
  };
  std::string row = formatShortest(point.P0);
  for (const std::string& field :
       {formatInteger(counters.blocks), formatInteger(counters.infoSymbols),
        formatInteger(counters.blockErrors), formatInteger(counters.symbolErrors),
        formatShortest(point.ser), ratio(counters.blockErrors, counters.blocks)}) {
    row += ',';
    row += field;
  }
  for (const std::int64_t errors : stats.errors) {
    row += ',';
    row += formatInteger(errors);
    row += ',';
    row += ratio(errors, stats.decodedSymbols);
  }
  write(row + "\r\n");
}

void CsvResultsWriter::write(const std::string& text) {
  if (failure_ != 0) return;
  errno = 0;
  out_.write(text.data(), static_cast<std::streamsize>(text.size()));
  out_.flush();
  // The system error of the failed operation, read right after it.
  if (!out_.good()) failure_ = errno != 0 ? errno : EIO;
}

}  // namespace nbsim
