// The symbol type shared by the code and the channel: a value of the Q-ary alphabet 0..Q-1.
#pragma once

#include <cstdint>

namespace nbsim {

// One Q-ary symbol, 0..Q-1, with Q from 2 to 2147483647.
using Symbol = std::int32_t;

}  // namespace nbsim
