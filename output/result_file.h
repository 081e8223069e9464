// A results file beside the report ("result.csv", "result.json", "result.svg"), replaced
// atomically: it is written to a temporary file in the same folder and renamed over the earlier
// file when it is published, so that a reader sees the earlier file or this run's, never a file cut
// short, and a run that fails before publishing leaves the earlier file as it was. After
// publishing, further bytes are appended to the published file. Written through the C library,
// whose failures set errno, so that a failure is named by its true system error.
#pragma once

#include <cstdio>
#include <ostream>
#include <string>
#include <string_view>

namespace nbsim {

// Writes `bytes` as the whole file at `path` (not through a link) for good: a temporary file in
// the same folder, flushed to the disk, renamed over the earlier file, and the folder's entry
// flushed too, so that after a crash of the run or of the system the file holds this version or
// the earlier one, whole. Returns 0, or the system error (the earlier file then stays as it was).
int replaceDurably(const std::string& path, std::string_view bytes);

class ResultFile {
 public:
  // The file at `path` (through a symbolic link, the file it points to); failures are said on
  // `errors`, the stream of failure lines.
  ResultFile(std::string path, std::ostream& errors) : path_(std::move(path)), errors_(errors) {}
  // Discards the file unless it was published.
  ~ResultFile() { discard(); }

  ResultFile(const ResultFile&) = delete;
  ResultFile& operator=(const ResultFile&) = delete;

  // Starts the file; false (and the failure said, ending with `tail`) when it cannot be written.
  bool create(const char* tail = "");
  // Appends `bytes`, flushed to the system; false once any write has failed. A file that fails
  // is said to have failed and is removed, also when published: a file cut short is no result.
  bool write(std::string_view bytes, const char* tail = "");
  // Puts the file in place of the earlier one; nothing once published.
  bool publish(const char* tail = "");
  // Publishes the file and closes it.
  bool close(const char* tail = "");
  // Writes `bytes` as the whole file in place of what it held: a new temporary file renamed over
  // it, so that a reader sees one whole version or the next. False once anything has failed (the
  // failure said once, ending with `tail`); what this run put in place is then removed too, as
  // out of date. Used instead of create, write and publish, for files rewritten as a run goes on.
  bool replace(std::string_view bytes, const char* tail = "");
  // Closes the file, and removes it unless it was published.
  void discard();
  // Removes a file of this name, unless it is a directory (the user's, which the writing will
  // then say it cannot replace) or a link (whose target the new file will replace).
  void removeEarlier() const;

  // True once the file has failed.
  bool failed() const { return failed_; }

 private:
  // Closes and removes what this run wrote and says `what`, the system error and `tail`.
  void fail(const char* what, int error, const char* tail);

  std::string path_;
  std::ostream& errors_;
  std::string target_;     // the file that the path names, through a link
  std::string temporary_;  // the file written until it is published
  std::FILE* file_ = nullptr;
  bool published_ = false;
  bool replaced_ = false;  // replace has put a version in place
  bool failed_ = false;
};

}  // namespace nbsim
