// One run per output folder: a run holds an advisory lock on a file beside its results while it
// writes them, so that a second run in the same folder cannot interleave its report and CSV with
// the first one's. The lock file stays; only the lock on it comes and goes with a run.
#pragma once

#include <string>

namespace nbsim {

class FolderLock {
 public:
  // Takes the lock on the file at `path`, creating the file if need be. Without the lock,
  // `held()` is false and `error()` says why.
  explicit FolderLock(const std::string& path);
  // Gives the lock up.
  ~FolderLock();

  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;

  bool held() const { return held_; }
  // "another run is writing its results here", or why the lock file cannot be used.
  const std::string& error() const { return error_; }
  // True when the lock is held by another run (not a failure of the lock file itself).
  bool busy() const { return busy_; }

 private:
  int fd_ = -1;
  bool held_ = false;
  bool busy_ = false;
  std::string error_;
};

}  // namespace nbsim
