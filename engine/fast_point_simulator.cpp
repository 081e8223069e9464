// The fast path's blocks, alone or shared.
#include "engine/fast_point_simulator.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>
#include <new>

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

// The blocks of one region of a round: those whose first symbol lies in it.
struct FastPointSimulator::Region {
  std::int64_t start = 0;      // where the region's first symbol starts, in the round's draws
  std::int64_t symbol = 0;     // that symbol's number, from the first block of the shared part
  std::int64_t endSymbol = 0;  // the number of the next region's first symbol
  // What decoding it gave.
  std::int64_t blocks = 0;
  std::int32_t blockErrors = 0;
  std::int64_t symbolErrors = 0;
  std::int64_t squaredSymbolErrors = 0;
  IterationStats stats;
  std::vector<std::int32_t> wrong;  // each block's wrongly decoded information symbols
  std::int64_t firstBlockAt = 0;    // where its first block starts, in the round's draws
  std::int64_t nextDraw = 0;        // the stream's draw after its last block
  bool givenUp = false;             // on the stop request
};

// One round of a shared point: `slices` slices of the stream from draw `firstDraw` on.
struct FastPointSimulator::Round {
  float P0 = 0.0f;
  std::int32_t bound = -1;
  DecodeStop stop;
  std::int64_t symbolsPerBlock = 0;  // the channel's: information and check symbols
  std::int64_t blockLimit = 0;       // blocks numbered from here on are not needed

  std::int64_t firstDraw = 0;
  std::int64_t sliceDraws = 0;
  std::int64_t slices = 0;
  std::int32_t* draws = nullptr;  // slices * sliceDraws of them
  std::int64_t kept = 0;          // draws below this one come from the shared stream
  std::int64_t firstStart = 0;    // where the round's first symbol starts in slice 0
  // Each slice: the generator at its first draw beyond the kept stream (if it has one), where
  // a symbol is known to start in it (-1: nowhere) and the parse from there to its end.
  std::vector<ShiftXorGenerator> generators;
  std::vector<std::int64_t> starts;
  std::vector<SymbolParse> parses;
  std::int64_t* sliceStart = nullptr;  // starts.data()
  SymbolParse* sliceParse = nullptr;   // parses.data()
  // The first `carried` slices were made by the round before, as its slices from `carried*`
  // on: they are copied.
  std::int64_t carried = 0;
  const std::int32_t* carriedDraws = nullptr;
  const std::int64_t* carriedStart = nullptr;
  const SymbolParse* carriedParse = nullptr;
  std::int64_t carriedShift = 0;  // the draws between the two rounds' first draws

  std::int64_t firstSymbol = 0;  // the number of the symbol at firstStart

  std::vector<Region> regions;
  std::int64_t regionCount = 0;
  std::int64_t cut = 0;        // where the next round starts, in this round's draws
  std::int64_t cutSymbol = 0;  // the number of the symbol there
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
    source_.transmitZeros(L, [this, i](std::int64_t c, Symbol e) {
      decoder_.addInformationError(i, static_cast<std::int32_t>(c), e);
    });
  }
  for (std::int32_t v = 0; v < nr_; ++v) {
    source_.transmitZeros(L, [this, v](std::int64_t j, Symbol e) {
      decoder_.addCheckError(v, static_cast<std::int32_t>(j), e);
    });
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
  if (split_.fromFirstBlock) {
    return simulateInRounds(share, P0, from ? from->nextDraw : 0, result, stop, progress);
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
  if (!reserveRounds()) {
    // Without the memory for the rounds, the point goes on alone; its helpers wait for its end.
    return runBlocks(
        limits_, static_cast<std::int64_t>(nk_) * decoder_.blockLength(), result, stop, progress,
        [this](IterationStats& stats) { return decodeNext(stats); },
        [this] { return source_.position(); });
  }
  return simulateInRounds(share, P0, source_.position(), result, stop, progress);
}

bool FastPointSimulator::reserveRounds() {
  const std::int64_t S = static_cast<std::int64_t>(nk_ + nr_) * decoder_.blockLength();
  const std::int64_t sliceDraws = split_.sliceDraws;
  const std::int64_t slices =
      std::max(2 + (2 * S + 2 + sliceDraws - 1) / sliceDraws, split_.roundSlices + 2);
  for (DrawBuffer& buffer : roundDraws_) {
    if (buffer.reserve(static_cast<std::size_t>(slices * sliceDraws)) == nullptr) {
      roundDraws_[0].release();
      roundDraws_[1].release();
      return false;
    }
  }
  return true;
}

ShiftXorGenerator FastPointSimulator::generatorAt(std::int64_t draw) {
  if (!anchor_ || anchorDraw_ > draw) {
    anchor_.emplace();
    anchor_->init(cache_.seed());
    anchorDraw_ = 0;
  }
  const std::int64_t slice = split_.sliceDraws;
  if (draw - anchorDraw_ > 64 * slice) {
    anchor_->skip(ShiftXorGenerator::Jump(static_cast<std::uint64_t>(draw - anchorDraw_)));
    anchorDraw_ = draw;
  }
  for (; anchorDraw_ + slice <= draw; anchorDraw_ += slice) {
    if (!sliceJump_) sliceJump_.emplace(static_cast<std::uint64_t>(slice));
    anchor_->skip(*sliceJump_);
  }
  if (anchorDraw_ < draw) {
    anchor_->skip(ShiftXorGenerator::Jump(static_cast<std::uint64_t>(draw - anchorDraw_)));
    anchorDraw_ = draw;
  }
  return *anchor_;
}

void FastPointSimulator::makeSlice(Round& round, std::int64_t slice) {
  const std::int64_t size = round.sliceDraws;
  const std::int64_t first = round.firstDraw + slice * size;
  std::int32_t* const draws = round.draws + slice * size;
  const std::int64_t begin = slice * size;
  const std::int64_t end = begin + size;
  if (slice < round.carried) {
    // Made by the round before: its draws, and where its symbols start, moved to this round.
    const auto k = static_cast<std::size_t>(slice);
    std::memcpy(draws, round.carriedDraws + begin,
                static_cast<std::size_t>(size) * sizeof(std::int32_t));
    const std::int64_t shift = round.carriedShift;
    std::int64_t start = round.carriedStart[k] < 0 ? -1 : round.carriedStart[k] - shift;
    SymbolParse parse = round.carriedParse[k];
    parse.next -= shift;
    if (slice == 0 && start != round.firstStart) {
      start = round.firstStart;
      parse = parseSymbols(round.draws, start, end, round.bound, wide_);
    }
    round.sliceStart[k] = start;
    round.sliceParse[k] = parse;
    return;
  }
  // The kept part from the shared stream, the rest from the slice's generator.
  const std::int64_t kept = std::clamp<std::int64_t>(round.kept - first, 0, size);
  const auto chunkSize = static_cast<std::int64_t>(cache_.chunkSize());
  for (std::int64_t d = 0; d < kept;) {
    const std::int64_t draw = first + d;
    const std::int64_t k = draw / chunkSize;
    const std::int64_t offset = draw - k * chunkSize;
    const std::int64_t count = std::min(kept - d, chunkSize - offset);
    const std::int32_t* chunk = cache_.chunk(static_cast<std::size_t>(k));
    std::memcpy(draws + d, chunk + offset, static_cast<std::size_t>(count) * sizeof(std::int32_t));
    d += count;
  }
  if (kept < size) {
    ShiftXorGenerator generator = round.generators[static_cast<std::size_t>(slice)];
    if (kept == 0) {
      if (!sliceFill_) sliceFill_.emplace(static_cast<std::size_t>(size), cache_.drawVariant());
      (*sliceFill_)(generator, draws);
    } else {
      generator.fill(draws + kept, static_cast<std::size_t>(size - kept));
    }
  }
  // The draw after the slice's first draw above the bound starts a symbol.
  std::int64_t start = -1;
  if (slice == 0) {
    start = round.firstStart;
  } else {
    for (std::int64_t d = begin; d + 1 < end; ++d) {
      if (round.draws[d] > round.bound) {
        start = d + 1;
        break;
      }
    }
  }
  round.sliceStart[static_cast<std::size_t>(slice)] = start;
  if (start >= 0) {
    round.sliceParse[static_cast<std::size_t>(slice)] =
        parseSymbols(round.draws, start, end, round.bound, wide_);
  }
}

void FastPointSimulator::decodeRegion(const Round& round, Region& region) {
  region.blocks = 0;
  region.blockErrors = 0;
  region.symbolErrors = 0;
  region.squaredSymbolErrors = 0;
  region.stats.reset(itert_);
  region.wrong.clear();
  region.givenUp = false;
  const std::int64_t S = round.symbolsPerBlock;
  // The first block that starts in the region.
  std::int64_t block = (region.symbol + S - 1) / S;
  if (block * S >= region.endSymbol || block >= round.blockLimit) return;
  source_.startPoint(round.P0);
  source_.readFrom(round.draws, round.slices * round.sliceDraws, round.firstDraw, region.start);
  source_.skip(block * S - region.symbol);
  region.firstBlockAt = source_.position() - round.firstDraw;
  decoder_.watch(round.stop);
  for (; block * S < region.endSymbol && block < round.blockLimit; ++block) {
    const std::int64_t wrong = round.stop.raised() ? -1 : decodeNext(region.stats);
    if (wrong < 0) {
      region.givenUp = true;
      return;
    }
    region.wrong.push_back(static_cast<std::int32_t>(wrong));
    ++region.blocks;
    region.symbolErrors += wrong;
    region.squaredSymbolErrors += wrong * wrong;
    if (wrong > 0) ++region.blockErrors;
  }
  region.nextDraw = source_.position();
}

bool FastPointSimulator::simulateInRounds(PointShare& share, float P0, std::int64_t nextDraw,
                                          PointResult& result, const StopRequest& stop,
                                          PointProgress* progress) {
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

  const std::int64_t sliceDraws = split_.sliceDraws;
  // Blocks numbered from the first one here: the volume allows this many.
  const std::int64_t blockLimit = (volume - counters.infoSymbols + infoPerBlock - 1) / infoPerBlock;
  // A block takes at most 2 S draws: a round must hold a slice and one block more.
  const std::int64_t fewestSlices = 2 + (2 * S + 2 + sliceDraws - 1) / sliceDraws;
  // Two rounds: while one's blocks are decoded, the next one's slices are made (and it carries
  // over the slices of the one before that lie past its cut).
  Round rounds[2];
  // The rounds' draws are given back with the point, however it ends.
  struct Release {
    DrawBuffer* buffers;
    ~Release() {
      buffers[0].release();
      buffers[1].release();
    }
  } release{roundDraws_};
  for (Round& round : rounds) {
    round.P0 = P0;
    round.bound = corruptionBound(P0);
    round.stop = stop.forDecoder();
    round.symbolsPerBlock = S;
    round.blockLimit = blockLimit;
    round.sliceDraws = sliceDraws;
  }
  std::int64_t committed = 0;       // blocks of the shared part
  std::int64_t committedDraws = 0;  // their draws
  // The blocks still to come, as far as the rates seen so far tell.
  const auto blocksToGo = [&] {
    double blocks = static_cast<double>(blockLimit - committed);
    if (counters.blockErrors > 0) {
      blocks = std::min(blocks, static_cast<double>(limits_.minBlockErr - counters.blockErrors) *
                                    static_cast<double>(counters.blocks) /
                                    static_cast<double>(counters.blockErrors));
    }
    return blocks;
  };

  // Sets `round` up after `before` (null: the first round, from `nextDraw`): slices enough for
  // the blocks still wanted and no more, since blocks decoded past the point's end are lost.
  const auto prepare = [&](Round& round, const Round* before) {
    const double drawsPerBlock =
        committed > 0 ? static_cast<double>(committedDraws) / static_cast<double>(committed)
                      : static_cast<double>(S);
    const double wanted = blocksToGo() * drawsPerBlock * 1.25 / static_cast<double>(sliceDraws);
    const std::int64_t carriedFrom = before ? before->cut / sliceDraws : 0;
    const std::int64_t carried = before ? before->slices - carriedFrom : 0;
    const std::int64_t slices = std::max(
        {fewestSlices, carried + 1,
         static_cast<std::int64_t>(std::min(wanted, static_cast<double>(split_.roundSlices))) + 2});
    const std::int64_t first =
        before ? before->firstDraw + carriedFrom * sliceDraws : nextDraw / sliceDraws * sliceDraws;
    round.firstDraw = first;
    round.firstStart = before ? before->cut - carriedFrom * sliceDraws : nextDraw - first;
    round.firstSymbol = before ? before->cutSymbol : 0;
    round.slices = slices;
    DrawBuffer& buffer = roundDraws_[&round - rounds];
    round.draws = buffer.reserve(static_cast<std::size_t>(slices * sliceDraws));
    if (round.draws == nullptr) throw std::bad_alloc();
    round.starts.assign(static_cast<std::size_t>(slices), -1);
    round.parses.assign(static_cast<std::size_t>(slices), SymbolParse{});
    round.sliceStart = round.starts.data();
    round.sliceParse = round.parses.data();
    round.carried = carried;
    if (carried > 0) {
      round.carriedShift = carriedFrom * sliceDraws;
      round.carriedDraws = before->draws + round.carriedShift;
      round.carriedStart = before->sliceStart + carriedFrom;
      round.carriedParse = before->sliceParse + carriedFrom;
    }
    // The chunks of the shared stream made so far are copied; the threads generate the rest
    // themselves rather than wait for the stream to be made one chunk after another.
    round.kept = static_cast<std::int64_t>(cache_.madeChunks()) *
                 static_cast<std::int64_t>(cache_.chunkSize());
    round.generators.resize(static_cast<std::size_t>(slices));
    for (std::int64_t k = carried; k < slices; ++k) {
      const std::int64_t draw = first + k * sliceDraws;
      if (draw + sliceDraws > round.kept) {
        round.generators[static_cast<std::size_t>(k)] = generatorAt(std::max(draw, round.kept));
      }
    }
  };

  // Cuts a made round into regions, each from a slice's known symbol start to the next one's,
  // numbered by the prefix sum of their symbols. Blocks that start at or before `limit` end
  // within the round; the last start within reach is the cut, where the next round starts.
  const auto divide = [&](Round& round) {
    const std::int64_t limit = round.slices * sliceDraws - 2 * S;
    std::int64_t regions = 0;
    std::int64_t symbol = round.firstSymbol;
    const auto addRegion = [&round, &regions](std::int64_t start, std::int64_t symbol,
                                              std::int64_t endSymbol) {
      if (static_cast<std::int64_t>(round.regions.size()) <= regions) round.regions.emplace_back();
      Region& region = round.regions[static_cast<std::size_t>(regions++)];
      region.start = start;
      region.symbol = symbol;
      region.endSymbol = endSymbol;
    };
    std::int64_t k = 0;
    round.cut = -1;
    for (;;) {
      std::int64_t next = k + 1;
      while (next < round.slices &&
             (round.sliceStart[next] < 0 || round.sliceStart[next] > limit)) {
        ++next;
      }
      if (next == round.slices) break;
      const SymbolParse& parsed = round.sliceParse[k];
      // On through the slices without a start of their own, to the next start.
      const SymbolParse between =
          parseSymbols(round.draws, parsed.next, round.sliceStart[next], round.bound);
      const std::int64_t nextSymbol = symbol + parsed.symbols + between.symbols;
      addRegion(round.sliceStart[k], symbol, nextSymbol);
      symbol = nextSymbol;
      k = next;
      round.cut = round.sliceStart[next];
    }
    if (round.cut < 0) {
      // No slice after the first has a start within reach (a point where nearly every draw
      // corrupts): one region from the first symbol to the last start within reach.
      const SymbolParse parsed =
          parseSymbols(round.draws, round.firstStart, limit + 1, round.bound);
      addRegion(round.firstStart, symbol, symbol + parsed.symbols);
      symbol += parsed.symbols;
      round.cut = parsed.next;
    }
    round.regionCount = regions;
    round.cutSymbol = symbol;
  };

  // The tasks of a phase: the regions of `decoding`, then the slices of `making`.
  Round* decoding = nullptr;
  Round* making = nullptr;
  const PointShare::Task tasks = [&decoding, &making](SharingPointSimulator& worker,
                                                      std::int64_t task) {
    auto& simulator = static_cast<FastPointSimulator&>(worker);
    const std::int64_t regions = decoding ? decoding->regionCount : 0;
    if (task < regions) {
      simulator.decodeRegion(*decoding, decoding->regions[static_cast<std::size_t>(task)]);
    } else {
      simulator.makeSlice(*making, task - regions);
    }
  };
  const auto runPhase = [&](Round* decode, Round* make) {
    decoding = decode;
    making = make;
    const std::int64_t count = (decode ? decode->regionCount : 0) + (make ? make->slices : 0);
    roundTimes_.tasks += count;
    share.run(count, tasks, *this);
  };

  double mark = threadSeconds();
  prepare(rounds[0], nullptr);
  serial += threadSeconds() - mark;
  runPhase(nullptr, &rounds[0]);
  mark = threadSeconds();
  divide(rounds[0]);
  serial += threadSeconds() - mark;

  // Where the next block starts: the draw after the last block committed.
  std::int64_t blockDraw = nextDraw;
  for (int current = 0;; current = 1 - current) {
    Round& round = rounds[current];
    Round& next = rounds[1 - current];
    if (progress && progress->stateWanted()) progress->keepState(result, blockDraw);
    if (stop.raised()) {
      if (progress) progress->keepState(result, blockDraw);
      return false;
    }
    // The next round's slices are made while this one's blocks are decoded, unless the point
    // looks like ending within this round.
    mark = threadSeconds();
    const double blocksHere =
        static_cast<double>(round.cutSymbol - round.firstSymbol) / static_cast<double>(S);
    const bool ahead = (round.cutSymbol - 1) / S + 1 < blockLimit && blocksToGo() > blocksHere;
    if (ahead) prepare(next, &round);
    serial += threadSeconds() - mark;
    runPhase(&round, ahead ? &next : nullptr);

    // Commit the regions in order, block by block where the point ends within one.
    mark = threadSeconds();
    for (std::int64_t r = 0; r < round.regionCount; ++r) {
      const Region& region = round.regions[static_cast<std::size_t>(r)];
      if (region.givenUp) {
        // The stop request came: the regions before are committed.
        if (progress) progress->keepState(result, blockDraw);
        return false;
      }
      if (region.blocks == 0) continue;
      if (counters.blockErrors + region.blockErrors < limits_.minBlockErr) {
        counters.blocks += region.blocks;
        counters.blockErrors += region.blockErrors;
        counters.infoSymbols += region.blocks * infoPerBlock;
        counters.symbolErrors += region.symbolErrors;
        counters.squaredSymbolErrors += region.squaredSymbolErrors;
        result.stats.add(region.stats);
        committed += region.blocks;
        committedDraws = region.nextDraw - nextDraw;
        blockDraw = region.nextDraw;
      } else {
        std::int64_t taken = 0;
        while (taken < region.blocks && counters.blockErrors < limits_.minBlockErr) {
          addBlock(counters, infoPerBlock, region.wrong[static_cast<std::size_t>(taken++)]);
        }
        if (taken == region.blocks) {
          result.stats.add(region.stats);
        } else {
          // The point ends within the region: its statistics end there too.
          source_.startPoint(P0);
          source_.readFrom(round.draws, round.slices * sliceDraws, round.firstDraw,
                           region.firstBlockAt);
          decoder_.watch(stop.forDecoder());
          for (std::int64_t b = 0; b < taken; ++b) {
            if (decodeNext(result.stats) < 0) return false;
          }
        }
      }
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
    if (!ahead) prepare(next, &round);
    serial += threadSeconds() - mark;
    if (!ahead) runPhase(nullptr, &next);
    mark = threadSeconds();
    divide(next);
    serial += threadSeconds() - mark;
  }
}

FastPointSimulator::StretchParse FastPointSimulator::makeStretch(float P0, std::int64_t firstDraw,
                                                                 std::int64_t draws) {
  if (!stretch_) stretch_ = std::make_unique<Round>();
  Round& round = *stretch_;
  const std::int64_t S = static_cast<std::int64_t>(nk_ + nr_) * decoder_.blockLength();
  round.P0 = P0;
  round.bound = corruptionBound(P0);
  round.symbolsPerBlock = S;
  round.firstDraw = firstDraw;
  round.slices = 1;
  // A block that starts in the stretch reads at most 2 S draws past it; the draws are made in as
  // many lanes as the processor has, a whole number of 64.
  round.sliceDraws = (std::max<std::int64_t>(draws, 1) + 2 * S + 2 + 63) / 64 * 64;
  round.draws = stretchDraws_.reserve(static_cast<std::size_t>(round.sliceDraws));
  if (round.draws == nullptr) throw std::bad_alloc();
  round.cut = std::max<std::int64_t>(draws, 1);  // the stretch's own draws
  // Made and parsed a part at a time: a part is parsed while it is still in the cache, and the
  // lanes of its fill write near each other, not a stretch's length apart.
  constexpr std::int64_t part = std::int64_t{1} << 16;
  ShiftXorGenerator generator = generatorAt(firstDraw);
  SymbolParse first{0, 0};
  for (std::int64_t made = 0; made < round.sliceDraws;) {
    const std::int64_t count = std::min(part, round.sliceDraws - made);
    std::optional<LaneFill>& fill = count == part ? partFill_ : stretchFill_;
    if (!fill || fill->count() != static_cast<std::size_t>(count)) {
      fill.emplace(static_cast<std::size_t>(count), cache_.drawVariant());
    }
    (*fill)(generator, round.draws + made);
    made += count;
    const SymbolParse parsed =
        parseSymbols(round.draws, first.next, std::min(made, round.cut), round.bound, wide_);
    first.symbols += parsed.symbols;
    first.next = parsed.next;
  }
  const StretchParse parse = parseStretch(round.draws, round.cut, round.bound, first, wide_);
  round.regions.assign(1, Region{});
  stretchParse_ = parse;
  return parse;
}

void FastPointSimulator::decodeStretch(std::int32_t start, std::int64_t symbol,
                                       std::int64_t blockLimit, const StopRequest& stop,
                                       StretchBlocks& blocks) {
  Round& round = *stretch_;
  Region& region = round.regions[0];
  region.start = start;
  region.symbol = symbol;
  region.endSymbol = symbol + stretchParse_.symbols[start == 0 ? 0 : 1];
  round.blockLimit = blockLimit;
  round.stop = stop.forDecoder();
  decodeRegion(round, region);
  PointResult& result = blocks.result;
  result.P0 = round.P0;
  result.counters = PointCounters{};
  result.counters.blocks = region.blocks;
  result.counters.blockErrors = region.blockErrors;
  result.counters.infoSymbols = region.blocks * nk_ * decoder_.blockLength();
  result.counters.symbolErrors = region.symbolErrors;
  result.counters.squaredSymbolErrors = region.squaredSymbolErrors;
  result.ser = 0;
  result.stats = region.stats;
  blocks.wrongBlocks.clear();
  for (std::size_t b = 0; b < region.wrong.size(); ++b) {
    if (region.wrong[b] > 0) {
      blocks.wrongBlocks.emplace_back(static_cast<std::int64_t>(b), region.wrong[b]);
    }
  }
  blocks.nextDraw = region.blocks > 0 ? region.nextDraw : round.firstDraw + start;
  blocks.givenUp = region.givenUp;
}

}  // namespace nbsim
