// Reads the code description "encoder.txt": "nk=%d", "  nr=%d", then for every check branch v and
// within it every information branch i the labels "  i=%d", "  v=%d", the tap count and the taps.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "code/code_description.h"

namespace nbsim {

struct CodeFileResult {
  std::optional<CodeDescription> code;  // present when the description is usable
  std::string error;                    // otherwise one English sentence naming the fault
  bool tapOutOfRange = false;           // the fault is a tap of 1000 or more
  // What the run will do otherwise than the file seems to say, one English line each: branches
  // beyond the first 4 of each kind dropped, a tap listed twice in one polynomial.
  std::vector<std::string> warnings;
};

// Parses the text of a code description. Blanks in the patterns match any run of whitespace, so
// line breaks carry no meaning; the file must begin with "nk=". nk and nr must lie in 1..40,
// counts and taps must not be negative; a tap of 1000 or more (in any polynomial, also in those
// beyond the first 4 branches of each kind, which are read and checked but then dropped) stops
// the read. Anything after the last tap is ignored. `fileName` only names the file in errors.
CodeFileResult parseCodeDescription(std::string_view text, std::string_view fileName);

}  // namespace nbsim
