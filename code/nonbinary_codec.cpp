// Construction of the codec: derived code quantities, working arrays and statistics.
#include "code/nonbinary_codec.h"

#include <algorithm>

#include "code/code_file_reader.h"

namespace nbsim {

NonBinaryCodec::NonBinaryCodec(const CodeDescription& code, std::int32_t itert)
    : NonBinaryCodec(code, IterationSchedule::standard(itert, code.nk, code.nr)) {}

NonBinaryCodec::NonBinaryCodec(const CodeDescription& code, const IterationSchedule& schedule)
    : code_(code), schedule_(schedule) {
  // J(i), the checks on information branch i, decides the code distance and the vote table size.
  constexpr std::int32_t distanceStart = 10000;
  std::int32_t smallestChecks = distanceStart;
  std::int32_t largestTap = 0;
  for (std::int32_t i = 0; i < code_.nk; ++i) {
    std::int32_t checks = 0;
    for (std::int32_t v = 0; v < code_.nr; ++v) {
      checks += static_cast<std::int32_t>(taps(i, v).size());
      for (std::int32_t t : taps(i, v)) largestTap = std::max(largestTap, t);
    }
    smallestChecks = std::min(smallestChecks, checks);
    maxChecks_ = std::max(maxChecks_, checks);
  }
  codeDistance_ = smallestChecks + 1;

  stats_.reset(itert());
  // A vote has at most 1 + maxChecks candidates and clears codeDistance <= 1 + maxChecks
  // entries; a code without any check still gets one entry, so that its votes find no winner.
  const std::size_t voteSize = std::max<std::size_t>(2 * static_cast<std::size_t>(maxChecks_),
                                                     1 + static_cast<std::size_t>(maxChecks_));
  voteValues_.assign(voteSize, 0);
  voteCounts_.assign(voteSize, 0);

  setBlockLength(2 * largestTap + 1);
  loaded_ = true;
}

void NonBinaryCodec::setBlockLength(std::int32_t L) {
  blockLength_ = L;
  const std::vector<Symbol> branch(static_cast<std::size_t>(L), 0);
  decision_.assign(code_.nk, branch);
  difference_.assign(code_.nk, branch);
  reference_.assign(code_.nk, branch);
  syndrome_.assign(code_.nr, branch);
}

void NonBinaryCodec::resetStats() { stats_.reset(itert()); }

double NonBinaryCodec::codeRate() const {
  return static_cast<double>(code_.nk) / (static_cast<double>(code_.nk) + code_.nr);
}

std::unique_ptr<NonBinaryCodec> loadCodeFile(const std::string& path, std::int32_t itert,
                                             std::ostream& console,
                                             const std::function<void()>& waitForKey,
                                             std::string& error) {
  const CodeFileResult result = readCodeFile(path);
  if (!result.code) {
    if (result.tapOutOfRange) {
      console << tapRangeMessage << std::flush;
      waitForKey();
    }
    error = result.error;
    return nullptr;
  }
  return std::make_unique<NonBinaryCodec>(*result.code, itert);
}

}  // namespace nbsim
