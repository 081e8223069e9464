// The process set-up through the POSIX and C library calls.
#include "run/process.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace nbsim {

void guardStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // open gives the lowest free descriptor: this one, as the lower ones are open by now.
    const int opened = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (opened >= 0 && opened != fd) close(opened);
  }
}

void boundAllocatorArenas() {
#if defined(__GLIBC__)
  // The threads allocate little and seldom; two arenas serve them without contention.
  mallopt(M_ARENA_MAX, 2);
#endif
}

}  // namespace nbsim
