// The live progress line of a long point: one line on standard error, redrawn in place, that
// shows the point's P0, its information symbols out of volume, its block errors out of
// minBlockErr and how long it has run. It is drawn only on a terminal, only once the point has
// run for half a second, and at most ten times a second; it is erased before the console gets a
// line, so that the console looks exactly as without it.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

namespace nbsim {

// What the line shows of a point.
struct PointStatus {
  float P0 = 0.0f;
  std::int64_t infoSymbols = 0;
  std::uint64_t volume = 0;
  std::int32_t blockErrors = 0;
  std::int32_t minBlockErr = 0;
  std::int64_t elapsedMilliseconds = 0;
};

class ProgressLine {
 public:
  // A point shows once it has run this long.
  static constexpr std::int64_t delayMilliseconds = 500;
  // Two drawings stand at least this far apart.
  static constexpr std::int64_t intervalMilliseconds = 100;

  // Draws on `out` only when `terminal` is true. The text is cut to `columns` - 1 characters so
  // that it never wraps and a carriage return always reaches its start.
  ProgressLine(std::ostream& out, bool terminal, std::int32_t columns)
      : out_(out), terminal_(terminal), columns_(columns) {}

  // Draws `status` in place of the line shown, when the point has run long enough and the last
  // drawing is at least intervalMilliseconds before `now` (milliseconds of the clock that timed
  // the point).
  void show(const PointStatus& status, std::int64_t now);

  // Removes the line from the screen, leaving the cursor at the start of the empty line; nothing
  // when no line is shown.
  void erase();

  // "P0 2.40e-001: 123456/1000000 symbols, 12/100 block errors, 3.2 s"; from a minute on the
  // time reads h:mm:ss.
  static std::string text(const PointStatus& status);

 private:
  std::ostream& out_;
  bool terminal_;
  std::int32_t columns_;
  std::size_t shownLength_ = 0;  // characters of the line on the screen; 0 when none
  bool drawnBefore_ = false;
  std::int64_t lastDrawn_ = 0;
};

}  // namespace nbsim
