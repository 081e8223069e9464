// Fuzzes the reader of "nbsim.checkpoint". The bytes stand for the run part of the file, wrapped
// with its true checksum so that the fuzzer gets past it: what the reader accepts must be checked
// by pointsHold without harm, and must write back to a text that reads as the same checkpoint.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "output/checkpoint.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string run(reinterpret_cast<const char*>(data), size);
  nbsim::Checkpoint checkpoint;
  std::string error;
  // A checksum over other bytes than the reader dumps fails; over the same, the run is read.
  for (const std::string& sum : {std::string("0"), nbsim::checkpointChecksum(run)}) {
    const std::string text =
        "{\"checksum\":\"" + sum + "\",\"format\":1,\"program\":\"nbsim\",\"run\":" + run + "}";
    if (!nbsim::readCheckpoint(text, checkpoint, error)) {
      if (error.empty()) std::abort();
      continue;
    }
    (void)nbsim::pointsHold(checkpoint, 1, 1, 7);
    nbsim::Checkpoint again;
    if (!nbsim::readCheckpoint(nbsim::checkpointText(checkpoint), again, error)) std::abort();
    if (nbsim::checkpointText(again) != nbsim::checkpointText(checkpoint)) std::abort();
  }
  return 0;
}
