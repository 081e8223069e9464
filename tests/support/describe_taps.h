// A code's branches and taps in one line, for the messages of the random tests.
#pragma once

#include <cstdint>
#include <sstream>
#include <string>

#include "code/code_description.h"

namespace nbsim::testing {

// " nk=.. nr=.. taps: [ t .. ] ..": the code's branches and every polynomial's taps.
inline std::string describeTaps(const CodeDescription& code) {
  std::ostringstream text;
  text << " nk=" << code.nk << " nr=" << code.nr << " taps:";
  for (std::int32_t i = 0; i < code.nk; ++i) {
    for (std::int32_t v = 0; v < code.nr; ++v) {
      text << " [";
      for (std::int32_t t : code.polynomials[i][v].taps) text << ' ' << t;
      text << " ]";
    }
  }
  return text.str();
}

}  // namespace nbsim::testing
