// Fuzzes the reader of "nbsim.checkpoint". The bytes stand for the run part of the file, wrapped
// with its true checksum so that the fuzzer gets past it: what the reader accepts must be checked
// by pointsHold without harm, and must write back to a text that reads as the same checkpoint.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "output/checkpoint.h"

namespace {

// FNV-1a, as the checkpoint's checksum.
std::string checksum(const std::string& bytes) {
  std::uint64_t hash = 14695981039346656037u;
  for (const char byte : bytes) {
    hash ^= static_cast<unsigned char>(byte);
    hash *= 1099511628211u;
  }
  char digits[17];
  std::snprintf(digits, sizeof digits, "%016llx", static_cast<unsigned long long>(hash));
  return digits;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string run(reinterpret_cast<const char*>(data), size);
  nbsim::Checkpoint checkpoint;
  std::string error;
  // A checksum over other bytes than the reader dumps fails; over the same, the run is read.
  for (const std::string& sum : {std::string("0"), checksum(run)}) {
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
