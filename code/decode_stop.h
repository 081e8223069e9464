// A request to give up the block being decoded, raised by another thread or a signal handler:
// the decoders look at it between their passes, and within a pass where the code makes a pass
// slow. The flags are read with relaxed loads; the caller that raised one learns of the
// abandoned block from the decoder's answer.
#pragma once

#include <atomic>

namespace nbsim {

struct DecodeStop {
  const std::atomic<bool>* flag = nullptr;
  const std::atomic<int>* signal = nullptr;  // a signal number, 0 for none

  // True when neither flag can ever be raised.
  bool none() const { return flag == nullptr && signal == nullptr; }
  bool raised() const {
    return (flag && flag->load(std::memory_order_relaxed)) ||
           (signal && signal->load(std::memory_order_relaxed) != 0);
  }
};

}  // namespace nbsim
