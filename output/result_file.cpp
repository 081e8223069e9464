// Writing a results file and saying what went wrong with it.
#include "output/result_file.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace nbsim {

bool ResultFile::create(const char* tail) {
  errno = 0;
  file_ = std::fopen(path_.c_str(), "wb");
  if (file_ == nullptr) {
    fail("cannot be opened for writing", errno != 0 ? errno : EIO, tail);
    return false;
  }
  created_ = true;
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

bool ResultFile::close(const char* tail) {
  if (file_ == nullptr) return !failed_;
  errno = 0;
  const int closed = std::fclose(file_);
  file_ = nullptr;
  if (closed != 0) {
    fail("cannot be written", errno != 0 ? errno : EIO, tail);
    return false;
  }
  return true;
}

void ResultFile::removeEarlier() const {
  std::error_code ignored;
  if (!std::filesystem::is_directory(path_, ignored)) std::filesystem::remove(path_, ignored);
}

void ResultFile::fail(const char* what, int error, const char* tail) {
  if (created_) {
    if (file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
    // A file cut short is no result: it goes.
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
    created_ = false;
  }
  failed_ = true;
  errors_ << "nbsim: " << path_ << ": " << what << ": " << std::strerror(error) << tail << '\n'
          << std::flush;
}

}  // namespace nbsim
