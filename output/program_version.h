// The program's version, as the build sets it.
#pragma once

#include <string_view>

namespace nbsim {

// "major.minor.patch" of this build.
std::string_view programVersion();

}  // namespace nbsim
