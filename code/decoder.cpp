// The iterative threshold decoder, written as the plain rendering of its rules. It is the
// reference against which any faster decoding path is proven.
#include <algorithm>

#include "code/nonbinary_codec.h"

namespace nbsim {
namespace {

// (x - a) mod Q for x, a in 0..Q-1, without leaving int32 for any Q.
Symbol subtractModQ(Symbol x, Symbol a, std::int32_t Q) {
  return x >= a ? x - a : static_cast<Symbol>(static_cast<std::int64_t>(x) - a + Q);
}

}  // namespace

void NonBinaryCodec::decode(const BranchTable& transmitted, const BranchTable& received,
                            const BranchTable& receivedChecks, BranchTable& decoded) {
  loadBlock(received, receivedChecks, transmitted);
  // All passes always run: the decoder does not stop at a zero syndrome.
  for (std::int32_t k = 0; k < itert(); ++k) runIteration(k);
  copyDecisions(decoded);
}

void NonBinaryCodec::loadBlock(const BranchTable& received, const BranchTable& receivedChecks,
                               const BranchTable& transmitted) {
  const std::int32_t L = blockLength_;
  for (std::int32_t i = 0; i < code_.nk; ++i) {
    for (std::int32_t j = 0; j < L; ++j) {
      decision_[i][j] = received[i][j];
      reference_[i][j] = transmitted[i][j];
      if (decision_[i][j] != reference_[i][j]) ++stats_.errors[0];
      difference_[i][j] = 0;
    }
  }
  stats_.decodedSymbols += static_cast<std::int64_t>(code_.nk) * L;
  for (std::int32_t j = 0; j < L; ++j) {
    for (std::int32_t v = 0; v < code_.nr; ++v) {
      std::int64_t sum = 0;
      for (std::int32_t i = 0; i < code_.nk; ++i) {
        for (std::int32_t t : taps(i, v)) sum += decision_[i][(j + t) % L];
      }
      syndrome_[v][j] = static_cast<Symbol>((Q_ - receivedChecks[v][j] + sum) % Q_);
    }
  }
}

void NonBinaryCodec::runIteration(std::int32_t k) {
  // Positions descending, branches ascending; each correction is visible to every later vote.
  for (std::int32_t c = blockLength_ - 1; c >= 0; --c) {
    for (std::int32_t i = 0; i < schedule_.infoBranchesUsed[k]; ++i) {
      Symbol a = 0;
      const std::int32_t margin = vote(i, c, k, a);
      if (margin > schedule_.threshold[k] && a != 0) applyCorrection(i, c, k, a);
      if (decision_[i][c] != reference_[i][c]) ++stats_.errors[k + 1];
    }
  }
}

std::int32_t NonBinaryCodec::vote(std::int32_t i, std::int32_t c, std::int32_t k, Symbol& value) {
  const std::int32_t L = blockLength_;
  std::fill_n(voteValues_.begin(), codeDistance_, 0);
  std::fill_n(voteCounts_.begin(), codeDistance_, 0);
  std::int32_t n = 0;
  if (schedule_.diffWeight[k] != 0) {
    voteValues_[0] = difference_[i][c];
    voteCounts_[0] = schedule_.diffWeight[k];
    n = 1;
  }
  for (std::int32_t v = 0; v < schedule_.checkBranchesUsed[k]; ++v) {
    for (std::int32_t t : taps(i, v)) {
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

void NonBinaryCodec::applyCorrection(std::int32_t i, std::int32_t c, std::int32_t /*k*/, Symbol a) {
  const std::int32_t L = blockLength_;
  // Every check branch, voting in this iteration or not, keeps its syndrome consistent.
  for (std::int32_t v = 0; v < code_.nr; ++v) {
    for (std::int32_t t : taps(i, v)) {
      Symbol& s = syndrome_[v][(L - t + c) % L];
      s = subtractModQ(s, a, Q_);
    }
  }
  difference_[i][c] = subtractModQ(difference_[i][c], a, Q_);
  decision_[i][c] = subtractModQ(decision_[i][c], a, Q_);
}

void NonBinaryCodec::copyDecisions(BranchTable& decoded) const {
  for (std::int32_t i = 0; i < code_.nk; ++i) {
    std::copy(decision_[i].begin(), decision_[i].end(), decoded[i].begin());
  }
}

}  // namespace nbsim
