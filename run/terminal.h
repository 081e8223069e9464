// Whether an output goes to a terminal, and how wide that terminal is: the live progress line is
// drawn only on a terminal, and kept narrower than it so that it never wraps.
#pragma once

#include <cstdint>
#include <optional>

namespace nbsim {

// The width in columns of the terminal behind file descriptor `fd`; nothing when `fd` is not a
// terminal. A terminal that does not tell its width is taken as 80 columns wide.
std::optional<std::int32_t> terminalColumns(int fd);

}  // namespace nbsim
