// What "encoder.txt" describes: the branch counts and the generator polynomials of the code,
// after the clamp to the branches that the decoder uses.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace nbsim {

// Tap positions of the polynomial of one information branch i and one check branch v, in file
// order. Tap t means: check symbol a includes information symbol (a + t) mod L.
struct GeneratorPolynomial {
  std::vector<std::int32_t> taps;
};

struct CodeDescription {
  // Branches of each kind that the codec uses; the file may list more.
  static constexpr std::int32_t maxUsedBranches = 4;

  std::int32_t nk = 0;  // information branches, 1..4
  std::int32_t nr = 0;  // check branches, 1..4
  // polynomials[i][v] for i < nk and v < nr; taps 0..999.
  std::array<std::array<GeneratorPolynomial, maxUsedBranches>, maxUsedBranches> polynomials{};
};

}  // namespace nbsim
