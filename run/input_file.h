// Reading an input file whole, with a bound: a file larger than any input the program reads (a
// link to /dev/zero, say) is refused instead of read forever, and a signal ends a read that
// waits (a FIFO with no writer) at once.
#pragma once

#include <atomic>
#include <cstddef>
#include <optional>
#include <string>

namespace nbsim {

// The largest input file read: 1 MiB, far beyond any parameter file or code description.
constexpr std::size_t largestInputFile = std::size_t{1} << 20;

struct InputFile {
  std::optional<std::string> bytes;  // the whole file, when it could be read
  std::string error;                 // otherwise "<path>: <why>", one English phrase
  bool interrupted = false;          // a signal ended the wait
};

// Reads the file at `path`, at most `limit` bytes. A read or open that a signal breaks is
// retried, unless `interrupt` then holds a signal number.
InputFile readInputFile(const std::string& path, std::size_t limit,
                        const std::atomic<int>* interrupt);

}  // namespace nbsim
