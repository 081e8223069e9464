// Fuzzes the reader of "param.txt": any bytes go through a C stream into readParameterFile and as
// text into readParameterText, which must agree and warn in lines that name the file; parameters
// that they accept go on to refuseParameters, whose sweep walk must end for every value.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "run/parameter_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // fmemopen needs a writable buffer and refuses a size of 0; an empty file reads as /dev/null.
  std::vector<char> bytes(data, data + size);
  std::FILE* file =
      size == 0 ? std::fopen("/dev/null", "r") : fmemopen(bytes.data(), bytes.size(), "r");
  if (!file) std::abort();
  const nbsim::ParameterFileResult result = nbsim::readParameterFile(file, "param.txt");
  std::fclose(file);
  const nbsim::ParameterFileResult text =
      nbsim::readParameterText(std::string(bytes.begin(), bytes.end()), "param.txt");
  if (text.parameters.has_value() != result.parameters.has_value()) std::abort();
  for (const std::string& warning : text.warnings) {
    if (warning.rfind("param.txt: ", 0) != 0 || warning.find('\n') != std::string::npos) {
      std::abort();
    }
  }

  if (result.parameters) {
    const nbsim::RunParameters& parameters = *result.parameters;
    // The reader's promises that the run relies on.
    if (parameters.itert < 3 || parameters.itert > 10) std::abort();
    if (parameters.volume > 0xFFFFFFFFu) std::abort();
    if (!result.error.empty()) std::abort();
    (void)nbsim::refuseParameters(parameters, "param.txt");
  } else if (result.error.rfind("param.txt: ", 0) != 0) {
    std::abort();  // every failure is one sentence that names the file
  }
  return 0;
}
