// Test support: the texts of input files and of report lines, written once for every test.
#pragma once

#include <string>
#include <string_view>

#include "output/report_stream.h"

namespace nbsim::testing {

// "param.txt" with the seven keys in order, each value as written.
inline std::string parameterFile(const std::string& Q, const std::string& first,
                                 const std::string& last, const std::string& step,
                                 const std::string& volume, const std::string& minBlockErr,
                                 const std::string& itert) {
  return "Q=" + Q + "\nP0_first=" + first + "\nP0_last=" + last + "\nP0_step=" + step +
         "\nvolume=" + volume + "\nminBlockErr=" + minBlockErr + "\nitert=" + itert + "\n";
}

// A code with one branch of each kind and the taps 0, 1, 3: L = 7.
inline const std::string shortCode = "nk=1  nr=1\n  i=0  v=0  3  0  1  3\n";
// The bundled example's code: taps 0 1 4 9 15 22 32 34, L = 69.
inline const std::string exampleCode = "nk=1  nr=1\n  i=0  v=0  8  0 1 4 9 15 22 32 34\n";

// Report text as the report's bytes: Windows-1251, CR LF.
inline std::string windows1251(std::string_view utf8) { return *text::toWindows1251(utf8); }

}  // namespace nbsim::testing
