// The decoder's per-iteration error statistics of one P0 point: how many information symbols
// were wrong on reception and after every iteration, out of how many decoded.
#pragma once

#include <cstdint>
#include <vector>

namespace nbsim {

struct IterationStats {
  // errors[0]: information symbols received wrong; errors[k + 1]: information symbols still
  // wrong after iteration k; summed over the point's blocks.
  std::vector<std::int64_t> errors;
  std::int64_t decodedSymbols = 0;

  // Zero counts for `itert` iterations.
  void reset(std::int32_t itert) {
    errors.assign(static_cast<std::size_t>(itert) + 1, 0);
    decodedSymbols = 0;
  }

  // Adds the counts of `more`, kept for as many iterations.
  void add(const IterationStats& more) {
    for (std::size_t k = 0; k < errors.size() && k < more.errors.size(); ++k) {
      errors[k] += more.errors[k];
    }
    decodedSymbols += more.decodedSymbols;
  }

  // errorRate[k] = errors[k] / decodedSymbols, divided in double and rounded to float (0/0 is
  // not a number when no block was decoded).
  std::vector<float> errorRates() const {
    std::vector<float> rates(errors.size());
    for (std::size_t k = 0; k < errors.size(); ++k) {
      rates[k] =
          static_cast<float>(static_cast<double>(errors[k]) / static_cast<double>(decodedSymbols));
    }
    return rates;
  }

  bool operator==(const IterationStats&) const = default;
};

}  // namespace nbsim
