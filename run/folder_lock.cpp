// The lock through flock, which the system gives up with the process, however it ends.
#include "run/folder_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace nbsim {

FolderLock::FolderLock(const std::string& path) {
  do {
    fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  } while (fd_ < 0 && errno == EINTR);
  if (fd_ < 0) {
    error_ = path + ": cannot be opened: " + std::strerror(errno);
    return;
  }
  int locked = 0;
  do {
    locked = flock(fd_, LOCK_EX | LOCK_NB);
  } while (locked != 0 && errno == EINTR);
  if (locked == 0) {
    held_ = true;
  } else if (errno == EWOULDBLOCK) {
    busy_ = true;
    error_ = "another run is writing its results in this folder (it holds " + path +
             "); this run leaves them alone";
  } else {
    error_ = path + ": cannot be locked: " + std::strerror(errno);
  }
}

FolderLock::~FolderLock() {
  if (fd_ >= 0) close(fd_);
}

}  // namespace nbsim
