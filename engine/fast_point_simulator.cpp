// The fast path's blocks, alone or shared.
#include "engine/fast_point_simulator.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <new>
#include <thread>

namespace nbsim {

namespace {

// Adds one block with `wrong` wrongly decoded information symbols, as runBlocks does.
void addBlock(PointCounters& counters, std::int64_t symbolsPerBlock, std::int64_t wrong) {
  counters.infoSymbols += symbolsPerBlock;
  counters.symbolErrors += wrong;
  counters.squaredSymbolErrors += wrong * wrong;
  if (wrong > 0) ++counters.blockErrors;
  ++counters.blocks;
}

double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The processor time of the calling thread, where the system tells it; else the wall clock.
double threadSeconds() {
#if defined(CLOCK_THREAD_CPUTIME_ID)
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
#else
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
#endif
}

}  // namespace

// A stretch of the stream as a thread made it, with what its blocks need.
struct FastPointSimulator::Made {
  float P0 = 0.0f;
  std::int32_t bound = -1;
  DecodeStop stop;
  std::int64_t symbolsPerBlock = 0;  // the channel's: information and check symbols
  std::int64_t blockLimit = 0;       // blocks numbered from here on are not needed
  std::int64_t firstDraw = 0;        // in the stream
  std::int64_t cut = 0;              // the stretch's own draws; those after are its overhang
  std::int64_t count = 0;            // the draws made: its own and the overhang
  std::int32_t* draws = nullptr;
};

FastPointSimulator::FastPointSimulator(const NonBinaryCodec& codec, const PointLimits& limits,
                                       DrawStreamCache& cache, DecoderVariant variant,
                                       const PointSplit& split)
    : limits_(limits),
      nk_(codec.nk()),
      nr_(codec.nr()),
      itert_(codec.itert()),
      cache_(cache),
      source_(cache, codec.alphabetSize(), isWide(variant)),
      wide_(isWide(variant)),
      decoder_(codec, variant),
      split_(split) {
  split_.sliceDraws = std::max<std::int64_t>(split_.sliceDraws, 1);
  split_.roundSlices = std::max<std::int64_t>(split_.roundSlices, 1);
}

FastPointSimulator::~FastPointSimulator() = default;

std::int64_t FastPointSimulator::decodeNext(IterationStats& stats) {
  const std::int32_t L = decoder_.blockLength();
  decoder_.startBlock();
  // The channel's order: the information branches, then the check branches.
  for (std::int32_t i = 0; i < nk_; ++i) {
    ErrorPatternDecoder::InformationWriter errors = decoder_.informationErrors(i);
    source_.transmitZeros(
        L, [&errors](std::int64_t c, Symbol e) { errors.add(static_cast<std::int32_t>(c), e); });
    decoder_.informationReceived(errors);
  }
  for (std::int32_t v = 0; v < nr_; ++v) {
    ErrorPatternDecoder::CheckWriter errors = decoder_.checkErrors(v);
    source_.transmitZeros(
        L, [&errors](std::int64_t j, Symbol e) { errors.add(static_cast<std::int32_t>(j), e); });
    decoder_.checksReceived(errors);
  }
  return static_cast<std::int64_t>(decoder_.decodeBlock(stats));
}

void FastPointSimulator::startPoint(float P0, PointResult& result, PointProgress* progress,
                                    const PointState* from) {
  result.P0 = P0;
  if (from) {
    result.counters = from->result.counters;
    result.stats = from->result.stats;
    if (progress) progress->publish(result.counters);
  } else {
    result.counters = PointCounters{};
    result.stats.reset(itert_);
  }
  source_.startPoint(P0, from ? from->nextDraw : 0);
}

bool FastPointSimulator::simulate(float P0, PointResult& result, const StopRequest& stop,
                                  PointProgress* progress, const PointState* from) {
  startPoint(P0, result, progress, from);
  decoder_.watch(stop.forDecoder());
  return runBlocks(
      limits_, static_cast<std::int64_t>(nk_) * decoder_.blockLength(), result, stop, progress,
      [this](IterationStats& stats) { return decodeNext(stats); },
      [this] { return source_.position(); });
}

bool FastPointSimulator::simulateShared(PointShare& share, float P0, PointResult& result,
                                        const StopRequest& stop, PointProgress* progress,
                                        const PointState* from) {
  startPoint(P0, result, progress, from);
  decoder_.watch(stop.forDecoder());
  const auto rest = [&] {
    // Alone from the next block: the point's helpers wait for its end.
    return runBlocks(
        limits_, static_cast<std::int64_t>(nk_) * decoder_.blockLength(), result, stop, progress,
        [this](IterationStats& stats) { return decodeNext(stats); },
        [this] { return source_.position(); });
  };
  bool alone = false;
  if (split_.fromFirstBlock) {
    const bool done =
        simulateInStretches(share, P0, from ? from->nextDraw : 0, result, stop, progress, alone);
    return alone ? rest() : done;
  }
  // Alone, block by block as simulate goes, until a thread joins.
  bool handedOver = false;
  const bool done = runBlocks(
      limits_, static_cast<std::int64_t>(nk_) * decoder_.blockLength(), result, stop, progress,
      [this, &share, &handedOver](IterationStats& stats) {
        if (share.helped()) {
          handedOver = true;
          return std::int64_t{-1};  // not counted
        }
        return decodeNext(stats);
      },
      [this] { return source_.position(); });
  if (!handedOver) return done;
  const bool shared =
      simulateInStretches(share, P0, source_.position(), result, stop, progress, alone);
  return alone ? rest() : shared;
}

ShiftXorGenerator FastPointSimulator::generatorAt(std::int64_t draw) {
  if (!anchor_ || anchorDraw_ > draw) {
    anchor_.emplace();
    anchor_->init(cache_.seed());
    anchorDraw_ = 0;
  }
  // Whole stretches by the jumps of 1, 2, 4, ... stretches, each made once: a thread's next
  // stretch may lie as many stretches ahead as there are threads. The rest by a jump of its own,
  // which only a point's first stretch on a thread needs.
  const std::int64_t slice = split_.sliceDraws;
  auto slices = static_cast<std::uint64_t>((draw - anchorDraw_) / slice);
  anchorDraw_ += static_cast<std::int64_t>(slices) * slice;
  for (std::size_t j = 0; slices != 0; ++j, slices >>= 1) {
    if (j == sliceJumps_.size()) {
      sliceJumps_.push_back(j == 0 ? ShiftXorGenerator::Jump(static_cast<std::uint64_t>(slice))
                                   : sliceJumps_[j - 1].twice());
    }
    if ((slices & 1) != 0) anchor_->skip(sliceJumps_[j]);
  }
  if (anchorDraw_ < draw) {
    anchor_->skip(ShiftXorGenerator::Jump(static_cast<std::uint64_t>(draw - anchorDraw_)));
    anchorDraw_ = draw;
  }
  return *anchor_;
}

bool FastPointSimulator::simulateInStretches(PointShare& share, float P0, std::int64_t nextDraw,
                                             PointResult& result, const StopRequest& stop,
                                             PointProgress* progress, bool& alone) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point started = Clock::now();
  double serial = 0;
  PointCounters& counters = result.counters;
  const std::int64_t L = decoder_.blockLength();
  const std::int64_t infoPerBlock = nk_ * L;
  const std::int64_t S = (nk_ + nr_) * L;
  const auto volume = static_cast<std::int64_t>(limits_.volume);
  const auto wantsBlock = [&] {
    return limits_.minBlockErr > 0 && counters.infoSymbols < volume &&
           counters.blockErrors < limits_.minBlockErr;
  };
  const auto finish = [&] {
    result.ser = symbolErrorRate(counters);
    roundTimes_.serialSeconds += serial;
    roundTimes_.totalSeconds += secondsSince(started);
    roundTimes_.helperTasks += share.helperTasks();
    return true;
  };
  if (!wantsBlock()) return finish();

  const std::int64_t D = split_.sliceDraws;
  // Blocks numbered from the first one here, whose first symbol is numbered 0: the volume
  // allows this many.
  const std::int64_t blockLimit = (volume - counters.infoSymbols + infoPerBlock - 1) / infoPerBlock;
  const std::int64_t most = split_.roundSlices;  // stretches per phase
  // Each on cache lines of its own: a thread waits on one stretch's start while another sets
  // the next.
  struct alignas(64) Stretch {
    // Where its first symbol starts, its draw 0 or 1, once the stretch before it knows; -1 not
    // yet; 2: never (a stretch before it could not be made).
    std::atomic<std::int32_t> start{-1};
    std::int64_t symbol = 0;  // that symbol's number, written before `start`
    StretchBlocks blocks;
    bool decoded = false;
  };
  // A phase's stretches, and the first of the next phase after them.
  const std::unique_ptr<Stretch[]> stretches(new Stretch[static_cast<std::size_t>(most + 1)]);
  std::int64_t phaseDraw = nextDraw;  // the first draw of the phase's first stretch
  std::int64_t count = 0;             // stretches in the phase

  // A stretch: made and parsed, then, once its start is known, the next one's start passed on
  // and its blocks decoded, all on the thread that took it, in its own cache. Stretches are
  // taken in order, and one waits only for the parses of those before it.
  const PointShare::Task task = [&](SharingPointSimulator& worker, std::int64_t k) {
    auto& simulator = static_cast<FastPointSimulator&>(worker);
    Stretch& stretch = stretches[static_cast<std::size_t>(k)];
    Stretch& after = stretches[static_cast<std::size_t>(k + 1)];
    StretchParse parse;
    bool made = true;
    try {
      parse = simulator.makeStretch(P0, phaseDraw + k * D, D);
    } catch (const std::exception&) {
      made = false;  // the stretches after it wait no longer
    }
    std::int32_t start = 0;
    while ((start = stretch.start.load(std::memory_order_acquire)) < 0) std::this_thread::yield();
    if (start > 1 || !made) {
      after.start.store(2, std::memory_order_release);
      return;
    }
    after.symbol = stretch.symbol + parse.symbols[start];
    after.start.store(static_cast<std::int32_t>(parse.next[start] - D), std::memory_order_release);
    // Decoded into the thread's own counts, which no other thread's writes share a cache line
    // with, and handed over once.
    simulator.decodeStretch(start, stretch.symbol, blockLimit, stop, simulator.decoded_);
    stretch.blocks = simulator.decoded_;
    stretch.decoded = true;
  };

  std::int64_t committed = 0;         // blocks of the shared part
  std::int64_t committedDraws = 0;    // their draws
  std::int64_t blockDraw = nextDraw;  // where the next block starts
  std::int32_t phaseStart = 0;        // the phase's first symbol: its first draw or the next
  std::int64_t phaseSymbol = 0;       // and its number
  for (;;) {
    if (progress && progress->stateWanted()) progress->keepState(result, blockDraw);
    if (stop.raised()) {
      if (progress) progress->keepState(result, blockDraw);
      return false;
    }
    double mark = threadSeconds();
    // Stretches enough for the blocks still wanted, as far as the rates so far tell, and no
    // more: blocks decoded past the point's end are lost.
    double blocks = static_cast<double>(blockLimit - committed);
    if (counters.blockErrors > 0) {
      blocks = std::min(blocks, static_cast<double>(limits_.minBlockErr - counters.blockErrors) *
                                    static_cast<double>(counters.blocks) /
                                    static_cast<double>(counters.blockErrors));
    }
    const double drawsPerBlock =
        committed > 0 ? static_cast<double>(committedDraws) / static_cast<double>(committed)
                      : static_cast<double>(S);
    count = std::clamp<std::int64_t>(
        static_cast<std::int64_t>(blocks * drawsPerBlock * 1.25 / static_cast<double>(D)) + 1, 1,
        most);
    for (std::int64_t k = 0; k <= count; ++k) {
      Stretch& stretch = stretches[static_cast<std::size_t>(k)];
      stretch.start.store(-1, std::memory_order_relaxed);
      stretch.decoded = false;
    }
    stretches[0].symbol = phaseSymbol;
    stretches[0].start.store(phaseStart, std::memory_order_relaxed);
    serial += threadSeconds() - mark;
    roundTimes_.tasks += count;
    share.run(count, task, *this);

    // Commit the stretches in order, up to the block where the point ends.
    mark = threadSeconds();
    for (std::int64_t k = 0; k < count; ++k) {
      Stretch& stretch = stretches[static_cast<std::size_t>(k)];
      if (!stretch.decoded) {
        // A thread could not make a stretch (no memory): the point goes on alone from here.
        serial += threadSeconds() - mark;
        alone = true;
        source_.startPoint(P0, blockDraw);
        decoder_.watch(stop.forDecoder());
        return false;
      }
      const StretchBlocks* decoded = &stretch.blocks;
      if (decoded->givenUp) {
        if (progress) progress->keepState(result, blockDraw);
        return false;
      }
      if (decoded->result.counters.blocks == 0) continue;
      const std::int64_t missing = limits_.minBlockErr - counters.blockErrors;
      if (decoded->result.counters.blockErrors >= missing) {
        const std::int64_t taken =
            decoded->wrongBlocks[static_cast<std::size_t>(missing - 1)].first + 1;
        if (taken < decoded->result.counters.blocks) {
          // The point ends within the stretch: its statistics end there too.
          const std::int32_t start = stretch.start.load(std::memory_order_relaxed);
          makeStretch(P0, phaseDraw + k * D, D);
          decodeStretch(start, stretch.symbol, (stretch.symbol + S - 1) / S + taken, stop,
                        stretch.blocks);
          if (decoded->givenUp) {
            if (progress) progress->keepState(result, blockDraw);
            return false;
          }
        }
      }
      counters.add(decoded->result.counters);
      result.stats.add(decoded->result.stats);
      committed += decoded->result.counters.blocks;
      blockDraw = decoded->nextDraw;
      committedDraws = blockDraw - nextDraw;
      if (progress) {
        progress->publish(counters);
        if (progress->stateWanted() && wantsBlock()) progress->keepState(result, blockDraw);
      }
      if (!wantsBlock()) {
        serial += threadSeconds() - mark;
        ++roundTimes_.rounds;
        return finish();
      }
    }
    ++roundTimes_.rounds;
    const Stretch& next = stretches[static_cast<std::size_t>(count)];
    phaseDraw += count * D;
    phaseStart = next.start.load(std::memory_order_acquire);
    phaseSymbol = next.symbol;
    serial += threadSeconds() - mark;
  }
}

FastPointSimulator::StretchParse FastPointSimulator::makeStretch(float P0, std::int64_t firstDraw,
                                                                 std::int64_t draws) {
  if (!stretch_) stretch_ = std::make_unique<Made>();
  Made& made = *stretch_;
  const std::int64_t S = static_cast<std::int64_t>(nk_ + nr_) * decoder_.blockLength();
  made.P0 = P0;
  made.bound = corruptionBound(P0);
  made.symbolsPerBlock = S;
  made.firstDraw = firstDraw;
  made.cut = std::max<std::int64_t>(draws, 1);
  // A block that starts in the stretch reads at most 2 S draws past it; the draws are made in as
  // many lanes as the processor has, a whole number of 64.
  made.count = (made.cut + 2 * S + 2 + 63) / 64 * 64;
  made.draws = stretchDraws_.reserve(static_cast<std::size_t>(made.count));
  if (made.draws == nullptr) throw std::bad_alloc();
  // Made and parsed a part at a time: a part is parsed while it is still in the cache, and the
  // lanes of its fill write near each other, not a stretch's length apart.
  constexpr std::int64_t part = std::int64_t{1} << 16;
  ShiftXorGenerator generator = generatorAt(firstDraw);
  SymbolParse first{0, 0};
  for (std::int64_t done = 0; done < made.count;) {
    const std::int64_t count = std::min(part, made.count - done);
    std::optional<LaneFill>& fill = count == part ? partFill_ : stretchFill_;
    if (!fill || fill->count() != static_cast<std::size_t>(count)) {
      fill.emplace(static_cast<std::size_t>(count), cache_.drawVariant());
    }
    (*fill)(generator, made.draws + done);
    done += count;
    const SymbolParse parsed =
        parseSymbols(made.draws, first.next, std::min(done, made.cut), made.bound, wide_);
    first.symbols += parsed.symbols;
    first.next = parsed.next;
  }
  stretchParse_ = parseStretch(made.draws, made.cut, made.bound, first, wide_);
  return stretchParse_;
}

void FastPointSimulator::decodeStretch(std::int32_t start, std::int64_t symbol,
                                       std::int64_t blockLimit, const StopRequest& stop,
                                       StretchBlocks& blocks) {
  Made& made = *stretch_;
  const std::int64_t S = made.symbolsPerBlock;
  const std::int64_t endSymbol = symbol + stretchParse_.symbols[start == 0 ? 0 : 1];
  PointResult& result = blocks.result;
  result.P0 = made.P0;
  result.counters = PointCounters{};
  result.ser = 0;
  result.stats.reset(itert_);
  blocks.wrongBlocks.clear();
  blocks.nextDraw = made.firstDraw + start;
  blocks.givenUp = false;
  // The first block that starts in the stretch.
  std::int64_t block = (symbol + S - 1) / S;
  if (block * S >= endSymbol || block >= blockLimit) return;
  source_.startPoint(made.P0);
  source_.readFrom(made.draws, made.count, made.firstDraw, start);
  source_.skip(block * S - symbol);
  made.stop = stop.forDecoder();
  decoder_.watch(made.stop);
  const std::int64_t infoPerBlock = static_cast<std::int64_t>(nk_) * decoder_.blockLength();
  for (std::int64_t b = 0; block * S < endSymbol && block < blockLimit; ++block, ++b) {
    const std::int64_t wrong = made.stop.raised() ? -1 : decodeNext(result.stats);
    if (wrong < 0) {
      blocks.givenUp = true;
      return;
    }
    addBlock(result.counters, infoPerBlock, wrong);
    if (wrong > 0) blocks.wrongBlocks.emplace_back(b, static_cast<std::int32_t>(wrong));
  }
  blocks.nextDraw = source_.position();
}

}  // namespace nbsim
