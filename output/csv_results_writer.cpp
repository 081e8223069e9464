// The CSV rows and their comment lines.
#include "output/csv_results_writer.h"

#include "output/number_format.h"
#include "output/program_version.h"

namespace nbsim {

using text::formatInteger;
using text::formatShortest;

namespace {

// The end of the line for a CSV that fails while the run goes on.
constexpr const char* goesOn = "; the run goes on without it";

}  // namespace

std::string csvHeader(const RunDescription& run) {
  const RunParameters& parameters = run.parameters;
  const NonBinaryCodec& codec = run.codec;
  const std::int32_t nk = codec.nk();
  const std::int32_t nr = codec.nr();
  // The parameters and the code as "param.txt" and "encoder.txt" would give them (volume as
  // read, only the branches in use), each under the name of its file.
  std::string text = "# nbsim " + std::string(programVersion()) + "\r\n";
  text += "# run seed=" + formatInteger(run.runSeed) +
          (run.seedChosen ? std::string(" (chosen with --seed)")
                          : " (the first source generator draw after seeding with the clock "
                            "second " +
                                formatInteger(run.seedSecond) + ")") +
          "\r\n";
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
      const std::vector<std::int32_t>& taps = codec.taps(i, v);
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
  return text + "\r\n";
}

std::string csvRow(const PointResult& point) {
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
  return row + "\r\n";
}

bool CsvResultsWriter::start(const RunDescription& run) {
  if (file_.create(goesOn)) file_.write(csvHeader(run), goesOn);
  return true;
}

bool CsvResultsWriter::point(const PointResult& point) {
  // The first point puts this run's file in place of an earlier one.
  if (file_.write(csvRow(point), goesOn)) file_.publish(goesOn);
  return true;
}

void CsvResultsWriter::finish(const RunOutcome& outcome) {
  // A run whose report failed leaves an earlier file alone, unless a point already replaced it.
  if (outcome.sweep == SweepOutcome::refused) {
    file_.discard();
  } else {
    file_.close(goesOn);
  }
}

}  // namespace nbsim
