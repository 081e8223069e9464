// A results file beside the report ("result.csv", "result.svg"): written through the C library,
// whose failures set errno, so that a failure is named by its true system error.
#pragma once

#include <cstdio>
#include <ostream>
#include <string>
#include <string_view>

namespace nbsim {

class ResultFile {
 public:
  // The file at `path`; failures are said on `errors`, the stream of failure lines.
  ResultFile(std::string path, std::ostream& errors) : path_(std::move(path)), errors_(errors) {}
  ~ResultFile() { close(); }

  ResultFile(const ResultFile&) = delete;
  ResultFile& operator=(const ResultFile&) = delete;

  // Creates the file, replacing an earlier one; false (and the failure said) when it cannot be.
  bool create(const char* tail = "");
  // Appends `bytes` and flushes them to the system; false once any write has failed. A file
  // that fails is closed, removed and said to have failed, ending with `tail`.
  bool write(std::string_view bytes, const char* tail = "");
  // Closes the file; false (and the failure said) when the last bytes could not be written.
  bool close(const char* tail = "");
  // Removes a file of this name, unless it is a directory (the user's, which the writing will
  // then say it cannot replace).
  void removeEarlier() const;

  // True once the file has failed.
  bool failed() const { return failed_; }

 private:
  // Closes and removes the file, when this run made it, and says `what`, the system error and
  // `tail` on errors.
  void fail(const char* what, int error, const char* tail);

  std::string path_;
  std::ostream& errors_;
  std::FILE* file_ = nullptr;
  bool created_ = false;  // this run made the file at path_
  bool failed_ = false;
};

}  // namespace nbsim
