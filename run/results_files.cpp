// Opening, feeding and closing the CSV and the plot, and saying what went wrong with them.
#include "run/results_files.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "text/number_format.h"

namespace nbsim {
namespace {

// The end of the line for a CSV that fails while the sweep goes on.
constexpr const char* goesOn = "; the run goes on without it";

}  // namespace

void ResultsFiles::start(const RunParameters& parameters, const NonBinaryCodec& codec,
                         std::int32_t runSeed, std::int64_t seedSecond) {
  std::int32_t nk = 0;
  std::int32_t nr = 0;
  codec.branchCounts(nk, nr);
  plot_.emplace("Q=" + text::formatInteger(parameters.Q) + ", nk=" + text::formatInteger(nk) +
                ", nr=" + text::formatInteger(nr) +
                ", L=" + text::formatInteger(codec.blockLength()) + ", itert=" +
                text::formatInteger(codec.itert()) + ", run seed " + text::formatInteger(runSeed));
  // Only a file is removed: a directory of that name is the user's, and the plot will say it
  // cannot be written there.
  std::error_code ignored;
  if (!std::filesystem::is_directory(plotPath_, ignored))
    std::filesystem::remove(plotPath_, ignored);

  errno = 0;
  csvFile_.open(csvPath_, std::ios::out | std::ios::binary | std::ios::trunc);
  if (!csvFile_) {
    fail(csvPath_, "cannot be opened for writing", errno != 0 ? errno : EIO, goesOn);
    return;
  }
  csv_.emplace(csvFile_);
  csv_->writeHeader(parameters, codec, runSeed, seedSecond);
  if (!csv_->good()) fail(csvPath_, "cannot be written", csv_->failure(), goesOn);
}

void ResultsFiles::reportPoint(const PointResult& point) {
  if (plot_) plot_->reportPoint(point);
  if (!csv_) return;
  csv_->reportPoint(point);
  if (!csv_->good()) fail(csvPath_, "cannot be written", csv_->failure(), goesOn);
}

void ResultsFiles::writePlot() {
  if (!plot_) return;
  errno = 0;
  std::ofstream file(plotPath_, std::ios::out | std::ios::binary | std::ios::trunc);
  if (!file) {
    fail(plotPath_, "cannot be opened for writing", errno != 0 ? errno : EIO, "");
    return;
  }
  errno = 0;
  plot_->write(file);
  file.flush();
  // The system error of the first failure: the flush's, or else the close's.
  int error = file.fail() ? errno : 0;
  file.close();
  if (file.fail()) {
    if (error == 0) error = errno != 0 ? errno : EIO;
    std::error_code ignored;
    std::filesystem::remove(plotPath_, ignored);
    fail(plotPath_, "cannot be written", error, "");
  }
}

void ResultsFiles::fail(const std::string& path, const std::string& what, int error,
                        const char* tail) {
  if (path == csvPath_ && csv_) {
    csv_.reset();
    csvFile_.close();
    std::error_code ignored;
    std::filesystem::remove(csvPath_, ignored);
  }
  failed_ = true;
  errors_ << "nbsim: " << path << ": " << what << ": " << std::strerror(error) << tail << '\n'
          << std::flush;
}

}  // namespace nbsim
