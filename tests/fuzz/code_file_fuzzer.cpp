// Fuzzes the reader of "encoder.txt" and the codec build: any bytes go to parseCodeDescription,
// and every description that it accepts builds a NonBinaryCodec and writes its report section.
// The last byte also picks the number of decoder iterations, 2..12.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string_view>
#include <vector>

#include "code/code_file_reader.h"
#include "code/nonbinary_codec.h"
#include "output/report_writer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const nbsim::CodeFileResult result = nbsim::parseCodeDescription(text, "encoder.txt");
  if (!result.code) {
    if (result.error.rfind("encoder.txt: ", 0) != 0) std::abort();
    return 0;
  }
  const nbsim::CodeDescription& code = *result.code;
  // The reader's promises that the codec relies on: 1..4 branches of each kind, taps 0..999, and
  // no tap in a polynomial beyond the kept branches.
  if (code.nk < 1 || code.nk > nbsim::CodeDescription::maxUsedBranches) std::abort();
  if (code.nr < 1 || code.nr > nbsim::CodeDescription::maxUsedBranches) std::abort();
  if (result.tapOutOfRange || !result.error.empty()) std::abort();
  std::int32_t largestTap = 0;
  for (std::int32_t i = 0; i < nbsim::CodeDescription::maxUsedBranches; ++i) {
    for (std::int32_t v = 0; v < nbsim::CodeDescription::maxUsedBranches; ++v) {
      const std::vector<std::int32_t>& taps = code.polynomials[i][v].taps;
      if ((i >= code.nk || v >= code.nr) && !taps.empty()) std::abort();
      for (std::int32_t tap : taps) {
        if (tap < 0 || tap > 999) std::abort();
        largestTap = std::max(largestTap, tap);
      }
    }
  }

  // A parsed description starts with "nk=", so there is a last byte.
  const std::int32_t itert = 2 + data[size - 1] % 11;
  const nbsim::NonBinaryCodec codec(code, 256, itert);
  if (codec.itert() != itert) std::abort();
  if (codec.blockLength() != 2 * largestTap + 1) std::abort();
  std::ostringstream bytes;
  nbsim::ReportWriter report(bytes);
  const nbsim::RunParameters parameters;
  if (!report.start(nbsim::RunDescription{parameters, codec})) std::abort();
  report.finish(nbsim::RunOutcome{});
  if (!report.good()) std::abort();
  return 0;
}
