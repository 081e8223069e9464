// Several finished (or running) runs on one plot: each run's decoder SER and FER with their 95 %
// intervals, read back from the files the run left in its folder, in a colour of its own.
#pragma once

#include <filesystem>
#include <ostream>
#include <vector>

namespace nbsim {

// Reads every folder of `runs` (each holding the "result.csv" and "result.json" of one run) and
// writes one SVG comparing them to `svg`: per run its decoder SER (solid) and FER (dashed) against
// P0 with error bars, and a legend entry built from the run's Q and code (Q, nk, nr, L, then the
// taps). Simulates nothing and writes no file. Returns true when the picture was written; false,
// with one line on `errors` for the first run that is missing or cannot be read (e.g.
// "nbsim: runs/a/result.csv: record 4: 3 fields where the header has 30"), and nothing on `svg`,
// when a run cannot be read or `runs` is empty.
bool writeRunComparison(const std::vector<std::filesystem::path>& runs, std::ostream& svg,
                        std::ostream& errors);

}  // namespace nbsim
