// The decoder's plan: for every iteration, the margin a correction must exceed, the weight of
// the symbol's own accumulated change in the vote, and how many branches of each kind take part.
#pragma once

#include <cstdint>
#include <vector>

namespace nbsim {

struct IterationSchedule {
  std::vector<std::int32_t> threshold;          // a correction needs margin > threshold[k]
  std::vector<std::int32_t> diffWeight;         // votes of the difference symbol; 0: none
  std::vector<std::int32_t> checkBranchesUsed;  // check branches 0..n-1 vote, 0..nr
  std::vector<std::int32_t> infoBranchesUsed;   // information branches 0..n-1 visited, 0..nk

  // The schedule the program runs: thresholds 2, 1, then 0; difference weight 1; every branch.
  static IterationSchedule standard(std::int32_t itert, std::int32_t nk, std::int32_t nr) {
    IterationSchedule schedule;
    schedule.threshold.assign(itert, 0);
    if (itert > 0) schedule.threshold[0] = 2;
    if (itert > 1) schedule.threshold[1] = 1;
    schedule.diffWeight.assign(itert, 1);
    schedule.checkBranchesUsed.assign(itert, nr);
    schedule.infoBranchesUsed.assign(itert, nk);
    return schedule;
  }

  std::int32_t iterations() const { return static_cast<std::int32_t>(threshold.size()); }
};

}  // namespace nbsim
