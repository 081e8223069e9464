// The non-binary systematic code and its iterative threshold decoder: the polynomials and the
// quantities derived from them, the decoder's schedule, working arrays and per-iteration
// statistics. One codec per run; it allocates everything at construction.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "code/code_description.h"
#include "code/iteration_schedule.h"
#include "code/iteration_stats.h"
#include "text/report_stream.h"
#include "text/symbol.h"

namespace nbsim {

// One block's branches: a table of branch arrays of L symbols each.
using BranchTable = std::vector<std::vector<Symbol>>;

class NonBinaryCodec {
 public:
  // Builds the codec for `code` with the standard schedule of `itert` iterations (at least 2).
  NonBinaryCodec(const CodeDescription& code, std::int32_t itert);
  // Builds the codec with an explicit schedule; its length is the number of iterations.
  NonBinaryCodec(const CodeDescription& code, const IterationSchedule& schedule);
  virtual ~NonBinaryCodec() = default;

  NonBinaryCodec(const NonBinaryCodec&) = delete;
  NonBinaryCodec& operator=(const NonBinaryCodec&) = delete;

  // True once the build has completed.
  bool isLoaded() const { return loaded_; }

  // Clears every entry 0..itert of the statistics and the count of decoded symbols.
  void resetStats();
  // Stores the alphabet size Q, 2..2147483647.
  void setAlphabetSize(std::int32_t Q) { Q_ = Q; }
  std::int32_t alphabetSize() const { return Q_; }

  // L: symbols per branch per block, 2 x largest tap + 1.
  std::int32_t blockLength() const { return blockLength_; }
  void branchCounts(std::int32_t& nk, std::int32_t& nr) const {
    nk = code_.nk;
    nr = code_.nr;
  }
  // nk / (nk + nr) in double precision.
  double codeRate() const;
  // 1 + the smallest number of checks on one information branch (counted from 10000 down).
  std::int32_t codeDistance() const { return codeDistance_; }
  // The largest number of checks on one information branch.
  std::int32_t maxChecks() const { return maxChecks_; }
  std::int32_t itert() const { return schedule_.iterations(); }
  const CodeDescription& code() const { return code_; }
  const IterationSchedule& schedule() const { return schedule_; }

  // Computes the nr check branches of one block from its nk information branches:
  // checks[v][a] = (sum over i and the taps t of (i, v) of info[i][(a + t) mod L]) mod Q.
  void encode(const BranchTable& info, BranchTable& checks) const;

  // Decodes one received block into `decoded` with all itert passes, and adds to the statistics
  // counted against `transmitted` (which takes no part in any decision).
  void decode(const BranchTable& transmitted, const BranchTable& received,
              const BranchTable& receivedChecks, BranchTable& decoded);

  // The statistics since resetStats. errors[k + 1] counts the information symbols of the
  // branches visited in iteration k that are still wrong after it.
  const IterationStats& stats() const { return stats_; }
  const std::vector<std::int64_t>& errors() const { return stats_.errors; }
  std::int64_t decodedSymbols() const { return stats_.decodedSymbols; }
  std::vector<float> errorRates() const { return stats_.errorRates(); }

  // The code section of the report: branch counts, Q, rate, polynomials, distance, length and
  // iterations.
  void writeCodeDescription(text::ReportStream& report) const;

 private:
  void setBlockLength(std::int32_t L);
  void loadBlock(const BranchTable& received, const BranchTable& receivedChecks,
                 const BranchTable& transmitted);
  void runIteration(std::int32_t k);
  // Votes on the error value of information symbol (i, c) in iteration k. Candidates are the
  // symbol's difference (weight diffWeight[k]) and the syndrome symbols of its checks, in order
  // of first appearance; the earliest of the highest counts wins. Returns the winner's lead over
  // the best other value, and the winner through `value`.
  std::int32_t vote(std::int32_t i, std::int32_t c, std::int32_t k, Symbol& value);
  // Subtracts `a` (1..Q-1) from decision (i, c), its difference and every syndrome symbol of its
  // checks in all check branches.
  void applyCorrection(std::int32_t i, std::int32_t c, std::int32_t k, Symbol a);
  void copyDecisions(BranchTable& decoded) const;

  const std::vector<std::int32_t>& taps(std::int32_t i, std::int32_t v) const {
    return code_.polynomials[i][v].taps;
  }

  CodeDescription code_;
  IterationSchedule schedule_;
  IterationStats stats_;
  std::int32_t blockLength_ = 0;
  std::int32_t codeDistance_ = 0;
  std::int32_t maxChecks_ = 0;
  BranchTable decision_;
  BranchTable syndrome_;
  BranchTable difference_;
  BranchTable reference_;
  std::int32_t Q_ = 2;
  std::vector<Symbol> voteValues_;
  std::vector<std::int32_t> voteCounts_;
  bool loaded_ = false;
};

// Builds the codec from the code description file at `path` with `itert` iterations. On a tap
// of 1000 or more it prints the tap-range message on `console` and calls `waitForKey` before it
// fails. On failure returns nothing and sets `error` to one English sentence.
std::unique_ptr<NonBinaryCodec> loadCodeFile(const std::string& path, std::int32_t itert,
                                             std::ostream& console,
                                             const std::function<void()>& waitForKey,
                                             std::string& error);

}  // namespace nbsim
