// Waiting for one key press, injected so that tests can drive a whole run without a terminal.
#pragma once

#include <atomic>

namespace nbsim {

class KeyReader {
 public:
  virtual ~KeyReader() = default;
  // Returns after one key press (or whatever stands for one).
  virtual void waitForKey() = 0;
};

// No wait at all: the run ends as soon as it is done.
class NoKeyReader : public KeyReader {
 public:
  void waitForKey() override {}
};

// Reads one key from standard input. On a terminal: without echo and without waiting for Enter.
// Otherwise one byte is read, and the end of the input counts as the key, so it never hangs on a
// closed or empty input. A background job of its terminal does not wait: it ends at once, and a
// wait moved to the background ends then.
class TerminalKeyReader : public KeyReader {
 public:
  // `interrupt`, when given, ends the wait once it holds a signal number.
  explicit TerminalKeyReader(const std::atomic<int>* interrupt = nullptr) : interrupt_(interrupt) {}
  void waitForKey() override;

 private:
  const std::atomic<int>* interrupt_;
};

}  // namespace nbsim
