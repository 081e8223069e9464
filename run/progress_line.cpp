// Drawing and erasing the progress line with carriage returns and spaces only, which every
// terminal understands.
#include "run/progress_line.h"

#include <algorithm>

#include "output/number_format.h"

namespace nbsim {
namespace {

std::string twoDigits(std::int64_t value) {
  return std::string{static_cast<char>('0' + value / 10), static_cast<char>('0' + value % 10)};
}

std::string elapsedText(std::int64_t milliseconds) {
  milliseconds = std::max<std::int64_t>(milliseconds, 0);
  if (milliseconds < 60000) {
    return text::formatInteger(milliseconds / 1000) + "." +
           text::formatInteger(milliseconds % 1000 / 100) + " s";
  }
  const std::int64_t seconds = milliseconds / 1000;
  return text::formatInteger(seconds / 3600) + ":" + twoDigits(seconds / 60 % 60) + ":" +
         twoDigits(seconds % 60);
}

}  // namespace

std::string ProgressLine::text(const PointStatus& status) {
  // The volume is shown as the limit it is (4294967295 for a volume of -1).
  return "P0 " + text::formatScientific(status.P0, 2) + ": " +
         text::formatInteger(status.infoSymbols) + "/" + std::to_string(status.volume) +
         " symbols, " + text::formatInteger(status.blockErrors) + "/" +
         text::formatInteger(status.minBlockErr) + " block errors, " +
         elapsedText(status.elapsedMilliseconds);
}

void ProgressLine::show(const PointStatus& status, std::int64_t now) {
  if (!terminal_ || status.elapsedMilliseconds < delayMilliseconds) return;
  if (drawnBefore_ && now - lastDrawn_ < intervalMilliseconds) return;
  std::string line = text(status);
  line.resize(
      std::min<std::size_t>(line.size(), static_cast<std::size_t>(std::max(columns_ - 1, 0))));
  if (line.empty()) return;
  // Spaces cover what a longer earlier line left on the screen.
  const std::size_t cover = shownLength_ > line.size() ? shownLength_ - line.size() : 0;
  out_ << '\r' << line << std::string(cover, ' ') << std::flush;
  shownLength_ = line.size();
  drawnBefore_ = true;
  lastDrawn_ = now;
}

void ProgressLine::erase() {
  if (shownLength_ == 0) return;
  out_ << '\r' << std::string(shownLength_, ' ') << '\r' << std::flush;
  shownLength_ = 0;
}

}  // namespace nbsim
