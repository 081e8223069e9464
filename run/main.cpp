// The entry point of the plain program: guards the standard descriptors and the allocator, then
// runs what the command line asks for (run/entry.h) and returns its exit status.
#include "run/entry.h"
#include "run/process.h"

int main(int argc, char** argv) {
  nbsim::guardStandardDescriptors();
  nbsim::boundAllocatorArenas();
  return nbsim::runCommandLine(argc, argv);
}
