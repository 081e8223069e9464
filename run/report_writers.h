// The run's own texts: the parameter header, the start time, the per-point block, the timing
// lines and the closing prompt. Every console line is flushed as it is written, so that a user
// watching a long sweep sees each point when it ends.
#pragma once

#include <cstdint>
#include <ostream>

#include "channel/channel.h"
#include "code/iteration_stats.h"
#include "run/clock.h"
#include "run/run_parameters.h"
#include "text/report_stream.h"

namespace nbsim {

// "Modeling parameters" and the five value lines on the console, the same values under the
// Russian heading in the report; then a flush of the report.
void writeParameterHeader(text::ReportStream& report, std::ostream& console,
                          const RunParameters& parameters);

// "\nStart time: " and the reading's local time as "Sun Dec 06 06:27:11.005", English names and
// a two-digit day whatever the locale.
void printStartTime(std::ostream& console, const ClockReading& start);

// The point's block of the report (channel line, counts, the iteration table, symbol and block
// error rates), then the point's console line, then a flush of the report.
void writePointReport(text::ReportStream& report, std::ostream& console, float P0,
                      const Channel& channel, const IterationStats& stats, std::int64_t blocks,
                      std::int64_t infoSymbols, std::int32_t blockErrors, float ser);

// "Modeling time: <s>.<ms> s" and "Modeling speed: %6.2f kbps".
void printRunTiming(std::ostream& console, std::int64_t seconds, std::int32_t milliseconds,
                    double speed);

// "strike any key", without a line end.
void printClosingPrompt(std::ostream& console);

}  // namespace nbsim
