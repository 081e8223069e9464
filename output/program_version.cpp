// The version comes from the build system's project version, so it is stated in one place.
#include "output/program_version.h"

#ifndef NBSIM_VERSION
#error "NBSIM_VERSION must be defined by the build"
#endif

namespace nbsim {

std::string_view programVersion() { return NBSIM_VERSION; }

}  // namespace nbsim
