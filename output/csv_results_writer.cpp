// The CSV's header and rows.
#include "output/csv_results_writer.h"

#include "output/error_rate_intervals.h"
#include "output/number_format.h"

namespace nbsim {

using text::formatInteger;
using text::formatShortest;

namespace {

// The end of the line for a CSV that fails while the run goes on.
constexpr const char* goesOn = "; the run goes on without it";

}  // namespace

std::string csvHeader(std::int32_t itert) {
  std::string text =
      "P0,blocks,infoSymbols,blockErrors,symbolErrors,squaredSymbolErrors,SER,SERLower,SERUpper,"
      "FER,FERLower,FERUpper";
  for (std::int32_t k = 0; k <= itert; ++k) {
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
  const PointIntervals intervals = pointIntervals(counters);
  std::string row = formatShortest(point.P0);
  for (const std::string& field :
       {formatInteger(counters.blocks), formatInteger(counters.infoSymbols),
        formatInteger(counters.blockErrors), formatInteger(counters.symbolErrors),
        formatInteger(counters.squaredSymbolErrors), formatShortest(point.ser),
        formatShortest(intervals.ser.lower), formatShortest(intervals.ser.upper),
        ratio(counters.blockErrors, counters.blocks), formatShortest(intervals.fer.lower),
        formatShortest(intervals.fer.upper)}) {
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
  if (file_.create(goesOn)) file_.write(csvHeader(run.codec.itert()), goesOn);
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
