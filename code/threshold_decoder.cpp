// The reference decoder's passes, votes and corrections.
#include "code/threshold_decoder.h"

#include <algorithm>

namespace nbsim {
namespace {

// (x - a) mod Q for x, a in 0..Q-1, without leaving int32 for any Q.
Symbol subtractModQ(Symbol x, Symbol a, std::int32_t Q) {
  return x >= a ? x - a : static_cast<Symbol>(static_cast<std::int64_t>(x) - a + Q);
}

}  // namespace

ThresholdDecoder::ThresholdDecoder(const NonBinaryCodec& codec) : codec_(codec) {
  stats_.reset(codec.itert());
  const std::vector<Symbol> branch(static_cast<std::size_t>(codec.blockLength()), 0);
  decision_.assign(codec.nk(), branch);
  difference_.assign(codec.nk(), branch);
  reference_.assign(codec.nk(), branch);
  syndrome_.assign(codec.nr(), branch);
  // A vote has at most 1 + maxChecks candidates and clears codeDistance <= 1 + maxChecks
  // entries; a code without any check still gets one entry, so that its votes find no winner.
  const auto maxChecks = static_cast<std::size_t>(codec.maxChecks());
  const std::size_t voteSize = std::max<std::size_t>(2 * maxChecks, 1 + maxChecks);
  voteValues_.assign(voteSize, 0);
  voteCounts_.assign(voteSize, 0);
}

bool ThresholdDecoder::decode(const BranchTable& transmitted, const BranchTable& received,
                              const BranchTable& receivedChecks, BranchTable& decoded,
                              const DecodeStop& stop) {
  loadBlock(received, receivedChecks, transmitted);
  // All passes always run: the decoder does not stop at a zero syndrome.
  for (std::int32_t k = 0; k < codec_.itert(); ++k) {
    if (!runIteration(k, stop)) return false;
  }
  for (std::int32_t i = 0; i < codec_.nk(); ++i) {
    std::copy(decision_[i].begin(), decision_[i].end(), decoded[i].begin());
  }
  return true;
}

void ThresholdDecoder::loadBlock(const BranchTable& received, const BranchTable& receivedChecks,
                                 const BranchTable& transmitted) {
  const std::int32_t L = codec_.blockLength();
  const std::int32_t Q = codec_.alphabetSize();
  for (std::int32_t i = 0; i < codec_.nk(); ++i) {
    for (std::int32_t j = 0; j < L; ++j) {
      decision_[i][j] = received[i][j];
      reference_[i][j] = transmitted[i][j];
      if (decision_[i][j] != reference_[i][j]) ++stats_.errors[0];
      difference_[i][j] = 0;
    }
  }
  stats_.decodedSymbols += static_cast<std::int64_t>(codec_.nk()) * L;
  for (std::int32_t j = 0; j < L; ++j) {
    for (std::int32_t v = 0; v < codec_.nr(); ++v) {
      std::int64_t sum = 0;
      for (std::int32_t i = 0; i < codec_.nk(); ++i) {
        for (std::int32_t t : codec_.taps(i, v)) sum += decision_[i][(j + t) % L];
      }
      syndrome_[v][j] = static_cast<Symbol>((Q - receivedChecks[v][j] + sum) % Q);
    }
  }
}

bool ThresholdDecoder::runIteration(std::int32_t k, const DecodeStop& stop) {
  // Positions descending, branches ascending; each correction is visible to every later vote.
  for (std::int32_t c = codec_.blockLength() - 1; c >= 0; --c) {
    // Two loads every 64 positions: nothing beside the votes, however light the code.
    if (c % 64 == 0 && stop.raised()) return false;
    for (std::int32_t i = 0; i < codec_.schedule().infoBranchesUsed[k]; ++i) {
      Symbol a = 0;
      const std::int32_t margin = vote(i, c, k, a);
      if (margin > codec_.schedule().threshold[k] && a != 0) applyCorrection(i, c, a);
      if (decision_[i][c] != reference_[i][c]) ++stats_.errors[k + 1];
    }
  }
  return true;
}

std::int32_t ThresholdDecoder::vote(std::int32_t i, std::int32_t c, std::int32_t k, Symbol& value) {
  const std::int32_t L = codec_.blockLength();
  std::fill_n(voteValues_.begin(), codec_.codeDistance(), 0);
  std::fill_n(voteCounts_.begin(), codec_.codeDistance(), 0);
  std::int32_t n = 0;
  if (codec_.schedule().diffWeight[k] != 0) {
    voteValues_[0] = difference_[i][c];
    voteCounts_[0] = codec_.schedule().diffWeight[k];
    n = 1;
  }
  for (std::int32_t v = 0; v < codec_.schedule().checkBranchesUsed[k]; ++v) {
    for (std::int32_t t : codec_.taps(i, v)) {
      const Symbol s = syndrome_[v][(L - t + c) % L];
      std::int32_t e = 0;
      while (e < n && voteValues_[e] != s) ++e;
      if (e < n) {
        ++voteCounts_[e];
      } else {
        voteValues_[n] = s;
        voteCounts_[n] = 1;
        ++n;
      }
    }
  }
  // The earliest of the highest counts wins; the runner-up is the best count of another value.
  Symbol winner = voteValues_[0];
  std::int32_t winnerCount = voteCounts_[0];
  for (std::int32_t e = 0; e < n; ++e) {
    if (voteCounts_[e] > winnerCount) {
      winner = voteValues_[e];
      winnerCount = voteCounts_[e];
    }
  }
  std::int32_t runnerUpCount = 0;
  for (std::int32_t e = 0; e < n; ++e) {
    if (voteCounts_[e] > runnerUpCount && voteValues_[e] != winner) runnerUpCount = voteCounts_[e];
  }
  value = winner;
  return winnerCount - runnerUpCount;
}

void ThresholdDecoder::applyCorrection(std::int32_t i, std::int32_t c, Symbol a) {
  const std::int32_t L = codec_.blockLength();
  // Every check branch, voting in this iteration or not, keeps its syndrome consistent.
  for (std::int32_t v = 0; v < codec_.nr(); ++v) {
    for (std::int32_t t : codec_.taps(i, v)) {
      Symbol& s = syndrome_[v][(L - t + c) % L];
      s = subtractModQ(s, a, codec_.alphabetSize());
    }
  }
  difference_[i][c] = subtractModQ(difference_[i][c], a, codec_.alphabetSize());
  decision_[i][c] = subtractModQ(decision_[i][c], a, codec_.alphabetSize());
}

}  // namespace nbsim
