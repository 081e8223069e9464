// The non-binary systematic code of a run: the polynomials as read, the alphabet size Q, and what
// follows from them (L, the code distance, the rate) together with the decoder's schedule. Built
// whole in one step and never changed; the encoder (code/encoder.h), the reference decoder
// (code/threshold_decoder.h) and the fast decoder (code/error_pattern_decoder.h) each take it.
//
// The domain depends on nothing of the program's own: code/ and channel/ are used by the engine
// and the outputs, never the other way round. channel/ uses only the Symbol type of code/.
#pragma once

#include <cstdint>
#include <vector>

#include "code/code_description.h"
#include "code/iteration_schedule.h"
#include "code/symbol.h"

namespace nbsim {

// One block's branches: a table of branch arrays of L symbols each.
using BranchTable = std::vector<std::vector<Symbol>>;

class NonBinaryCodec {
 public:
  // The code `code` over an alphabet of Q symbols (2..2147483647) with the standard schedule of
  // `itert` iterations.
  NonBinaryCodec(const CodeDescription& code, std::int32_t Q, std::int32_t itert);
  // The same with an explicit schedule; its length is the number of iterations.
  NonBinaryCodec(const CodeDescription& code, std::int32_t Q, const IterationSchedule& schedule);

  std::int32_t nk() const { return code_.nk; }
  std::int32_t nr() const { return code_.nr; }
  std::int32_t alphabetSize() const { return Q_; }
  // The taps of polynomial (i, v), in file order.
  const std::vector<std::int32_t>& taps(std::int32_t i, std::int32_t v) const {
    return code_.polynomials[i][v].taps;
  }

  // L: symbols per branch per block, 2 x largest tap + 1.
  std::int32_t blockLength() const { return blockLength_; }
  // nk / (nk + nr) in double precision.
  double codeRate() const {
    return static_cast<double>(code_.nk) / (static_cast<double>(code_.nk) + code_.nr);
  }
  // 1 + the smallest number of checks on one information branch (counted from 10000 down).
  std::int32_t codeDistance() const { return codeDistance_; }
  // The largest number of checks on one information branch.
  std::int32_t maxChecks() const { return maxChecks_; }
  std::int32_t itert() const { return schedule_.iterations(); }
  const CodeDescription& code() const { return code_; }
  const IterationSchedule& schedule() const { return schedule_; }

 private:
  CodeDescription code_;
  std::int32_t Q_;
  IterationSchedule schedule_;
  std::int32_t blockLength_ = 0;
  std::int32_t codeDistance_ = 0;
  std::int32_t maxChecks_ = 0;
};

}  // namespace nbsim
