// Whether the fast decoder takes its vector paths: wherever SSE2 is there, unless
// NBSIM_PORTABLE_DECODER asks for the plain loops that serve without it, so that the tests can
// hold those to the reference too. Only the decoder's source files test NBSIM_VECTOR_DECODER;
// the headers that other libraries read look the same either way.
#pragma once

#if defined(__SSE2__) && !defined(NBSIM_PORTABLE_DECODER)
#define NBSIM_VECTOR_DECODER 1
#include <emmintrin.h>
#else
#define NBSIM_VECTOR_DECODER 0
#endif
