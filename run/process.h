// What the process sets up before the run touches any file.
#pragma once

namespace nbsim {

// Opens /dev/null on each of the standard descriptors 0, 1 and 2 that is closed, so that no file
// the run opens takes their place and gets console text written into it.
void guardStandardDescriptors();

// Bounds the address space that the C library's allocator reserves for each simulating thread
// (by default up to 64 MiB for each of up to eight arenas per core), which a limit such as
// `ulimit -v` would otherwise exhaust.
void boundAllocatorArenas();

}  // namespace nbsim
