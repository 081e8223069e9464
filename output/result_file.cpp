// Writing, publishing and giving up a results file.
#include "output/result_file.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace nbsim {

namespace fs = std::filesystem;

namespace {

// Creates a new file ".NAME.XXXXXX" beside `target` with the permissions a newly created file
// gets (not mkstemp's private ones); its descriptor, its name in `temporary`, or -1 and errno.
int createTemporary(const std::string& target, std::string& temporary) {
  const fs::path path(target);
  std::string name = ".";
  name += path.filename().string();
  name += ".XXXXXX";
  std::string pattern = (path.parent_path() / name).string();
  const int fd = mkstemp(pattern.data());
  if (fd < 0) return -1;
  temporary = pattern;
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
  return fd;
}

}  // namespace

int replaceDurably(const std::string& path, std::string_view bytes) {
  std::string temporary;
  const int fd = createTemporary(path, temporary);
  if (fd < 0) return errno;
  int error = 0;
  for (std::size_t written = 0; written < bytes.size() && error == 0;) {
    const ssize_t count = ::write(fd, bytes.data() + written, bytes.size() - written);
    if (count > 0) {
      written += static_cast<std::size_t>(count);
    } else if (count == 0 || errno != EINTR) {
      error = count == 0 ? EIO : errno;
    }
  }
  if (error == 0 && fsync(fd) != 0) error = errno;
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && std::rename(temporary.c_str(), path.c_str()) != 0) error = errno;
  if (error != 0) {
    std::remove(temporary.c_str());
    return error;
  }
  const fs::path folder = fs::path(path).parent_path();
  const int directory = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY);
  if (directory >= 0) {
    fsync(directory);
    ::close(directory);
  }
  return 0;
}

bool ResultFile::create(const char* tail) {
  std::error_code ignored;
  target_ = fs::is_symlink(path_, ignored) ? fs::weakly_canonical(path_, ignored).string() : path_;
  if (target_.empty()) target_ = path_;
  // What the earlier file's own state refuses is refused as before: a directory of that name,
  // or a file that may not be written.
  if (fs::is_directory(target_, ignored)) {
    fail("cannot be opened for writing", EISDIR, tail);
    return false;
  }
  if (fs::exists(target_, ignored) && access(target_.c_str(), W_OK) != 0) {
    fail("cannot be opened for writing", errno, tail);
    return false;
  }
  // Anything but a regular file (a device, a FIFO) is written in place: it cannot be replaced.
  if (fs::exists(target_, ignored) && !fs::is_regular_file(target_, ignored)) {
    errno = 0;
    file_ = std::fopen(target_.c_str(), "wb");
    if (file_ == nullptr) {
      fail("cannot be opened for writing", errno != 0 ? errno : EIO, tail);
      return false;
    }
    published_ = true;
    return true;
  }
  const int fd = createTemporary(target_, temporary_);
  if (fd < 0) {
    fail("cannot be opened for writing", errno, tail);
    return false;
  }
  file_ = fdopen(fd, "wb");
  if (file_ == nullptr) {
    const int error = errno;
    ::close(fd);
    fail("cannot be opened for writing", error, tail);
    return false;
  }
  return true;
}

bool ResultFile::write(std::string_view bytes, const char* tail) {
  if (file_ == nullptr) return false;
  errno = 0;
  if (std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size() ||
      std::fflush(file_) != 0) {
    fail("cannot be written", errno != 0 ? errno : EIO, tail);
    return false;
  }
  return true;
}

bool ResultFile::publish(const char* tail) {
  if (file_ == nullptr) return false;
  if (published_) return true;
  errno = 0;
  if (std::fflush(file_) != 0) {
    fail("cannot be written", errno != 0 ? errno : EIO, tail);
    return false;
  }
  if (std::rename(temporary_.c_str(), target_.c_str()) != 0) {
    fail("cannot be written", errno, tail);
    return false;
  }
  published_ = true;
  return true;
}

bool ResultFile::close(const char* tail) {
  if (file_ == nullptr || !publish(tail)) return false;
  errno = 0;
  const int closed = std::fclose(file_);
  file_ = nullptr;
  if (closed != 0) {
    fail("cannot be written", errno != 0 ? errno : EIO, tail);
    return false;
  }
  return true;
}

bool ResultFile::replace(std::string_view bytes, const char* tail) {
  if (failed_) return false;
  published_ = false;
  if (create(tail) && write(bytes, tail) && close(tail)) {
    replaced_ = true;
    return true;
  }
  std::error_code ignored;
  if (replaced_ && fs::is_regular_file(target_, ignored)) std::remove(target_.c_str());
  return false;
}

void ResultFile::discard() {
  if (file_ == nullptr) return;
  std::fclose(file_);
  file_ = nullptr;
  if (!published_) std::remove(temporary_.c_str());
}

void ResultFile::removeEarlier() const {
  std::error_code ignored;
  if (!fs::is_directory(path_, ignored) && !fs::is_symlink(path_, ignored)) {
    fs::remove(path_, ignored);
  }
}

void ResultFile::fail(const char* what, int error, const char* tail) {
  if (file_ != nullptr) {
    std::fclose(file_);
    file_ = nullptr;
    // A file cut short is no result: it goes (a device or a FIFO stays).
    std::error_code ignored;
    if (!published_) {
      std::remove(temporary_.c_str());
    } else if (fs::is_regular_file(target_, ignored)) {
      std::remove(target_.c_str());
    }
  }
  failed_ = true;
  errors_ << "nbsim: " << path_ << ": " << what << ": " << std::strerror(error) << tail << '\n'
          << std::flush;
}

}  // namespace nbsim
