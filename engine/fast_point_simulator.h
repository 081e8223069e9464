// One P0 point on the fast path: the error patterns of the shared draw stream decoded by the
// error-pattern decoder, with the same counts as the reference path. The code is linear and
// the channel's draws do not depend on the symbols, so each block is simulated as its error
// pattern alone.
//
// A point can also be shared by several threads (PointShare), exactly, in stretches of the draw
// stream, which the threads take in order. A thread makes its stretch's draws (a generator
// jumps there) and parses them from their first draw and from the one after: the point's
// symbols start at one of the two, and the stretch before tells which, and that symbol's number,
// as soon as it knows its own. So a thread waits only for the parses of the stretches before
// its own, then decodes the blocks that start in its stretch from its draws, still in its cache.
// The owner commits the stretches in order under the stopping rule, and where the point ends
// inside one, decodes it once more up to that block, for the statistics of exactly those blocks.
// The same stretches, made and decoded apart, serve points shared by processes (over MPI).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "channel/draw_stream.h"
#include "channel/error_pattern_source.h"
#include "code/error_pattern_decoder.h"
#include "code/nonbinary_codec.h"
#include "engine/point_share.h"
#include "engine/point_simulator.h"

namespace nbsim {

// How a shared point is cut.
struct PointSplit {
  // Draws per stretch (each thread keeps one stretch's draws, 256 KiB at this size, so that they
  // stay in its cache), and stretches per phase at most: the owner commits a phase's stretches
  // once all are decoded.
  std::int64_t sliceDraws = std::int64_t{1} << 16;
  std::int64_t roundSlices = 64;
  // Goes in stretches from the first block, also without a thread to help; otherwise a point
  // goes block by block until a thread joins.
  bool fromFirstBlock = false;
};

class FastPointSimulator : public PointSimulator, public SharingPointSimulator {
 public:
  // `codec` gives the code, the schedule (which ErrorPatternDecoder must support), L and Q;
  // `cache` the stream of the run's channel seed. Both must outlive the simulator. `variant`:
  // the decoder's code, one of availableDecoderVariants().
  FastPointSimulator(const NonBinaryCodec& codec, const PointLimits& limits, DrawStreamCache& cache,
                     DecoderVariant variant = chosenDecoderVariant(), const PointSplit& split = {});
  ~FastPointSimulator() override;

  using PointSimulator::simulate;
  bool simulate(float P0, PointResult& result, const StopRequest& stop = {},
                PointProgress* progress = nullptr, const PointState* from = nullptr) override;

  bool simulateShared(PointShare& share, float P0, PointResult& result, const StopRequest& stop,
                      PointProgress* progress, const PointState* from = nullptr) override;

  // A stretch of a point's draws on its own, for points shared by processes that do not share
  // memory. makeStretch makes draws [firstDraw, firstDraw + draws) of the stream at P0, and the
  // few after them that its last blocks read, and parses them from their first draw and from the
  // one after: the point's symbols start at one of the two, and `symbols` and `next` (from the
  // stretch's first draw) tell for each where the symbols that start in the stretch go.
  using StretchParse = nbsim::StretchParse;
  StretchParse makeStretch(float P0, std::int64_t firstDraw, std::int64_t draws);
  // The blocks of the stretch made last: those whose first symbol starts in it, when the symbol
  // numbered `symbol` starts at its draw `start` (0 or 1) and blocks start at the multiples of
  // the symbols per block, below block `blockLimit`.
  struct StretchBlocks {
    PointResult result;  // the blocks' counts and statistics
    // The blocks decoded wrongly: their number from the stretch's first block, and their wrongly
    // decoded information symbols.
    std::vector<std::pair<std::int64_t, std::int32_t>> wrongBlocks;
    std::int64_t nextDraw = 0;  // the stream's draw after the last block
    bool givenUp = false;       // on the stop request: the counts are of no use
  };
  void decodeStretch(std::int32_t start, std::int64_t symbol, std::int64_t blockLimit,
                     const StopRequest& stop, StretchBlocks& blocks);

  // What the shared phases took, summed over this simulator's shared points: for the
  // benchmark's account of the work that stays serial.
  struct RoundTimes {
    std::int64_t rounds = 0;       // phases
    double serialSeconds = 0;      // the owner alone (its processor time): sizes, commits
    double totalSeconds = 0;       // the phases from first to last
    std::int64_t tasks = 0;        // stretches
    std::int64_t helperTasks = 0;  // those that other threads took
  };
  const RoundTimes& roundTimes() const { return roundTimes_; }

 private:
  struct Made;

  // The point's counts and source from its start or from `from`.
  void startPoint(float P0, PointResult& result, PointProgress* progress, const PointState* from);
  // The point's next block from the source into the decoder; its wrongly decoded information
  // symbols, added to `stats`, or a negative number when the decoder gave it up.
  std::int64_t decodeNext(IterationStats& stats);
  // The rest of a shared point in stretches, from its counts in `result` and the block that
  // starts at draw `nextDraw`; false when `stop` ended it first, or with `alone` when a thread
  // had no memory for a stretch: the point then goes on alone from its source, which stands at
  // the block after those counted.
  bool simulateInStretches(PointShare& share, float P0, std::int64_t nextDraw, PointResult& result,
                           const StopRequest& stop, PointProgress* progress, bool& alone);
  // The generator at draw `draw` of the stream.
  ShiftXorGenerator generatorAt(std::int64_t draw);

  PointLimits limits_;
  std::int32_t nk_;
  std::int32_t nr_;
  std::int32_t itert_;
  DrawStreamCache& cache_;
  ErrorPatternSource source_;
  bool wide_;  // the processor compares draws with AVX2
  ErrorPatternDecoder decoder_;
  PointSplit split_;
  std::vector<ShiftXorGenerator::Jump> sliceJumps_;  // of 1, 2, 4, ... times sliceDraws draws
  // A generator of the stream, and the draw where it stands.
  std::optional<ShiftXorGenerator> anchor_;
  std::int64_t anchorDraw_ = 0;
  RoundTimes roundTimes_;
  // The stretch made last, and its draws.
  std::unique_ptr<Made> stretch_;
  StretchBlocks decoded_;  // the blocks of the stretch decoded last, on a shared point
  StretchParse stretchParse_;
  std::optional<LaneFill> partFill_;     // a whole part of a stretch
  std::optional<LaneFill> stretchFill_;  // the part at its end
  DrawBuffer stretchDraws_;
};

}  // namespace nbsim
