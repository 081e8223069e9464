// Terminal queries through the POSIX interfaces.
#include "run/terminal.h"

#include <sys/ioctl.h>
#include <unistd.h>

namespace nbsim {

std::optional<std::int32_t> terminalColumns(int fd) {
  if (!isatty(fd)) return std::nullopt;
  winsize size{};
  if (ioctl(fd, TIOCGWINSZ, &size) != 0 || size.ws_col == 0) return 80;
  return static_cast<std::int32_t>(size.ws_col);
}

}  // namespace nbsim
