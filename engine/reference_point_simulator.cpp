// The reference path's blocks.
#include "engine/reference_point_simulator.h"

#include <vector>

#include "code/encoder.h"
#include "engine/source_generator.h"

namespace nbsim {

ReferencePointSimulator::ReferencePointSimulator(const NonBinaryCodec& codec,
                                                 const PointLimits& limits, std::int32_t seed)
    : codec_(codec), limits_(limits), channel_(codec.alphabetSize(), seed), decoder_(codec) {}

namespace {

// `total` := `base` + `added`, for as many iterations as `added` keeps; allocates nothing once
// `total` has that many.
void setSum(IterationStats& total, const IterationStats& base, const IterationStats& added) {
  total.errors.resize(added.errors.size());
  for (std::size_t k = 0; k < added.errors.size(); ++k) {
    total.errors[k] = added.errors[k] + (k < base.errors.size() ? base.errors[k] : 0);
  }
  total.decodedSymbols = base.decodedSymbols + added.decodedSymbols;
}

}  // namespace

bool ReferencePointSimulator::simulate(float P0, PointResult& result, const StopRequest& stop,
                                       PointProgress* progress, const PointState* from) {
  decoder_.resetStats();
  channel_.reseed();
  channel_.setErrorProbability(P0);
  const std::int32_t nk = codec_.nk();
  const std::int32_t nr = codec_.nr();
  const std::int32_t L = codec_.blockLength();
  const std::int32_t Q = codec_.alphabetSize();

  // The block arrays live for the point; nothing is allocated per block.
  const std::vector<Symbol> branch(static_cast<std::size_t>(L), 0);
  BranchTable source(nk, branch);
  BranchTable received(nk, branch);
  BranchTable decoded(nk, branch);
  BranchTable checks(nr, branch);
  BranchTable receivedChecks(nr, branch);
  SourceGenerator sourceGenerator;
  sourceGenerator.seed(0);
  // The channel's draws so far: one per symbol, and one more for the value of each corrupted
  // symbol, which always differs from the symbol sent.
  std::int64_t draws = 0;
  IterationStats base;
  result.P0 = P0;
  result.counters = PointCounters{};
  if (from) {
    // Each block takes nk * L source draws; the channel goes on at the block's first draw.
    sourceGenerator.skip(static_cast<std::uint64_t>(from->result.counters.blocks) *
                         static_cast<std::uint64_t>(nk) * static_cast<std::uint64_t>(L));
    channel_.skipDraws(static_cast<std::uint64_t>(from->nextDraw));
    draws = from->nextDraw;
    base = from->result.stats;
    result.counters = from->result.counters;
    if (progress) progress->publish(result.counters);
  }
  setSum(result.stats, base, decoder_.stats());

  const bool complete = runBlocks(
      limits_, static_cast<std::int64_t>(nk) * L, result, stop, progress,
      [&](IterationStats& stats) {
        for (auto& info : source) {
          for (Symbol& symbol : info) symbol = sourceGenerator.draw() & (Q - 1);
        }
        encode(codec_, source, checks);
        // This order fixes which channel draws each symbol receives.
        for (std::int32_t i = 0; i < nk; ++i) {
          channel_.transmit(source[i].data(), received[i].data(), L);
        }
        for (std::int32_t v = 0; v < nr; ++v) {
          channel_.transmit(checks[v].data(), receivedChecks[v].data(), L);
        }
        if (!decoder_.decode(source, received, receivedChecks, decoded, stop.forDecoder())) {
          return std::int64_t{-1};
        }
        std::int64_t wrong = 0;
        draws += static_cast<std::int64_t>(nk + nr) * L;
        for (std::int32_t i = 0; i < nk; ++i) {
          for (std::int32_t j = 0; j < L; ++j) {
            wrong += decoded[i][j] != source[i][j];
            draws += received[i][j] != source[i][j];
          }
        }
        for (std::int32_t v = 0; v < nr; ++v) {
          for (std::int32_t j = 0; j < L; ++j) draws += receivedChecks[v][j] != checks[v][j];
        }
        setSum(stats, base, decoder_.stats());
        return wrong;
      },
      [&] { return draws; });
  return complete;
}

}  // namespace nbsim
