// The long run of the fast-path equivalence test: many more random points (codes, alphabets,
// P0 values, run seeds, draw-stream caps) than the test suite runs, each compared with the
// reference path, with every decoder variant this machine runs. Prints the first difference
// with the case and variant that give it.
//
//   fast_path_soak [cases] [seed]     (defaults: 20000 cases, seed 1)
#include <cstdio>
#include <cstdlib>
#include <random>

#include "bench/random_points.h"

int main(int argc, char** argv) {
  const long cases = argc > 1 ? std::atol(argv[1]) : 20000;
  const unsigned long long seed = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 1;
  std::mt19937_64 random(seed);
  for (long n = 0; n < cases; ++n) {
    const nbsim::testing::RandomPoint point = nbsim::testing::randomPoint(random);
    const nbsim::PointResult reference = nbsim::testing::referencePoint(point);
    for (const nbsim::DecoderVariant variant : nbsim::availableDecoderVariants()) {
      if (!(nbsim::testing::fastPoint(point, variant) == reference)) {
        std::printf("case %ld of seed %llu differs (%s): %s\n", n, seed,
                    nbsim::decoderVariantName(variant), point.describe().c_str());
        return 1;
      }
    }
  }
  std::printf("%ld cases of seed %llu: fast and reference paths identical in every variant\n",
              cases, seed);
  return 0;
}
