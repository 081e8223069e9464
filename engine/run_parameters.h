// The run parameters, as "param.txt" gives them (run/parameter_file.h reads it), each with its
// default.
#pragma once

#include <cstdint>

namespace nbsim {

struct RunParameters {
  std::int32_t Q = 256;
  float P0_first = 0.24f;  // first (largest) channel symbol error probability
  float P0_last = 0.02f;   // the sweep goes on while P0 stays at or above this
  float P0_step = 0.002f;
  // Information symbols after which a point stops. The file gives a 32-bit signed value that
  // fills the low 32 bits, so -1 means 4294967295.
  std::uint64_t volume = 1000000;
  std::int32_t minBlockErr = 100;  // block errors after which a point stops
  std::int32_t itert = 10;         // decoder iterations, clamped to 3..10

  // volume as read from the file: its low 32 bits as a signed value.
  std::int32_t volumeAsRead() const {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(volume));
  }
};

}  // namespace nbsim
