// The bounded read through the POSIX calls, whose failures name their true reason.
#include "run/input_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace nbsim {
namespace {

bool interruptedBy(const std::atomic<int>* interrupt) {
  return interrupt != nullptr && interrupt->load() != 0;
}

}  // namespace

InputFile readInputFile(const std::string& path, std::size_t limit,
                        const std::atomic<int>* interrupt) {
  InputFile file;
  int fd = -1;
  while ((fd = open(path.c_str(), O_RDONLY | O_CLOEXEC)) < 0 && errno == EINTR) {
    if (interruptedBy(interrupt)) {
      file.interrupted = true;
      return file;
    }
  }
  if (fd < 0) {
    file.error = path + ": cannot be opened: " + std::strerror(errno);
    return file;
  }
  struct stat status {};
  if (fstat(fd, &status) == 0 && S_ISDIR(status.st_mode)) {
    close(fd);
    file.error = path + ": cannot be read: it is a directory";
    return file;
  }
  std::string bytes;
  char buffer[65536];
  for (;;) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) {
      if (!interruptedBy(interrupt)) continue;
      file.interrupted = true;
      break;
    }
    if (got < 0) {
      file.error = path + ": cannot be read: " + std::strerror(errno);
      break;
    }
    if (got == 0) {
      file.bytes = std::move(bytes);
      break;
    }
    if (bytes.size() + static_cast<std::size_t>(got) > limit) {
      file.error = path + ": cannot be read: it is larger than " + std::to_string(limit) +
                   " bytes, far more than an input file of the program holds";
      break;
    }
    bytes.append(buffer, static_cast<std::size_t>(got));
  }
  close(fd);
  return file;
}

}  // namespace nbsim
