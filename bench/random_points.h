// Random points for comparing the fast simulation path with the plain reference path: random
// codes (1 to 4 branches of each kind, taps up to 999, duplicated taps, empty polynomials,
// L = 1), alphabet sizes, P0 values, run seeds and draw-stream caps. Shared by the long run
// fast_path_soak and the equivalence test of the test suite.
#pragma once

#include <algorithm>
#include <cstdint>
#include <random>
#include <sstream>
#include <string>

#include "channel/draw_stream.h"
#include "code/nonbinary_codec.h"
#include "engine/fast_point_simulator.h"
#include "engine/reference_point_simulator.h"
#include "engine/run_parameters.h"

namespace nbsim::testing {

// " nk=.. nr=.. taps: [ t .. ] ..": the code's branches and every polynomial's taps.
inline std::string describeTaps(const CodeDescription& code) {
  std::ostringstream text;
  text << " nk=" << code.nk << " nr=" << code.nr << " taps:";
  for (std::int32_t i = 0; i < code.nk; ++i) {
    for (std::int32_t v = 0; v < code.nr; ++v) {
      text << " [";
      for (std::int32_t t : code.polynomials[i][v].taps) text << ' ' << t;
      text << " ]";
    }
  }
  return text.str();
}

struct RandomPoint {
  CodeDescription code;
  RunParameters parameters;
  std::int32_t seed = 0;
  float P0 = 0.0f;
  std::size_t chunkSize = DrawStreamCache::defaultChunkSize;
  std::size_t chunkCount = DrawStreamCache::defaultChunkCount;

  // One line that says how to rebuild the case.
  std::string describe() const {
    std::ostringstream text;
    text << "Q=" << parameters.Q << " itert=" << parameters.itert << " P0=" << P0
         << " volume=" << parameters.volume << " minBlockErr=" << parameters.minBlockErr
         << " seed=" << seed << " chunks=" << chunkCount << "x" << chunkSize << describeTaps(code);
    return text.str();
  }
};

inline CodeDescription randomCode(std::mt19937_64& random) {
  const auto below = [&random](std::int32_t n) {
    return static_cast<std::int32_t>(random() % static_cast<std::uint64_t>(n));
  };
  CodeDescription code;
  code.nk = 1 + below(4);
  code.nr = 1 + below(4);
  // Mostly short codes; sometimes the longest taps; sometimes L = 1 (every tap 0).
  const std::int32_t shape = below(10);
  const std::int32_t largestTap = shape == 0 ? 0 : shape == 1 ? 999 : 1 + below(40);
  for (std::int32_t i = 0; i < code.nk; ++i) {
    for (std::int32_t v = 0; v < code.nr; ++v) {
      const std::int32_t count = below(4) == 0 ? 0 : 1 + below(8);
      auto& taps = code.polynomials[i][v].taps;
      for (std::int32_t n = 0; n < count; ++n) {
        // A repeat of the previous tap now and then.
        taps.push_back(!taps.empty() && below(8) == 0 ? taps.back() : below(largestTap + 1));
      }
    }
  }
  return code;
}

inline RandomPoint randomPoint(std::mt19937_64& random) {
  const auto below = [&random](std::int32_t n) {
    return static_cast<std::int32_t>(random() % static_cast<std::uint64_t>(n));
  };
  RandomPoint point;
  point.code = randomCode(random);
  static constexpr std::int32_t alphabets[] = {2, 3, 4, 10, 16, 128, 256, 257, 65536};
  point.parameters.Q = alphabets[below(9)];
  point.parameters.itert = 3 + below(8);
  static constexpr float special[] = {0.0f, 1.0f, 0.5f, 0.001f};
  point.P0 = below(5) == 0 ? special[below(4)]
                           : 0.001f + static_cast<float>(below(100000)) * (0.499f / 100000.0f);
  point.seed = static_cast<std::int32_t>(random());
  point.parameters.minBlockErr = 1 + below(30);
  std::int32_t largestTap = 0;
  for (const auto& row : point.code.polynomials) {
    for (const auto& polynomial : row) {
      for (std::int32_t t : polynomial.taps) largestTap = std::max(largestTap, t);
    }
  }
  const std::int64_t blockSymbols = static_cast<std::int64_t>(point.code.nk) * (2 * largestTap + 1);
  point.parameters.volume = static_cast<std::uint64_t>(
      1 + below(static_cast<std::int32_t>(std::min<std::int64_t>(blockSymbols * 40, 20000))));
  if (below(3) == 0) {
    point.chunkSize = static_cast<std::size_t>(1 + below(50));
    point.chunkCount = static_cast<std::size_t>(below(6));
  }
  return point;
}

// The point on the plain reference path: source, encoder, channel and decoder.
inline PointResult referencePoint(const RandomPoint& point) {
  const NonBinaryCodec codec(point.code, point.parameters.Q, point.parameters.itert);
  const PointLimits limits{point.parameters.volume, point.parameters.minBlockErr};
  return ReferencePointSimulator(codec, limits, point.seed).simulate(point.P0);
}

// The point on the fast path, with the case's draw-stream caps and the decoder's `variant`.
inline PointResult fastPoint(const RandomPoint& point,
                             DecoderVariant variant = chosenDecoderVariant()) {
  const NonBinaryCodec codec(point.code, point.parameters.Q, point.parameters.itert);
  const PointLimits limits{point.parameters.volume, point.parameters.minBlockErr};
  DrawStreamCache cache(point.seed, point.chunkSize, point.chunkCount);
  return FastPointSimulator(codec, limits, cache, variant).simulate(point.P0);
}

}  // namespace nbsim::testing
