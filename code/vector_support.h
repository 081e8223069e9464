// Whether the fast decoder takes its vector paths: wherever SSE2 is there, unless
// NBSIM_PORTABLE_DECODER asks for the plain loops that serve without it, so that the tests can
// hold those to the reference too. Where the compiler can target AVX2 function by function
// (NBSIM_WIDE_DECODER), the 256-bit kernels are built too and chosen at run time
// (decoder_variant.h). Only the decoder's source files test these; the headers that other
// libraries read look the same either way.
#pragma once

#if defined(__SSE2__) && !defined(NBSIM_PORTABLE_DECODER)
#define NBSIM_VECTOR_DECODER 1
#include <emmintrin.h>
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define NBSIM_WIDE_DECODER 1
#include <immintrin.h>
// For the functions that use 256-bit vectors; they run only where the processor has AVX2.
#define NBSIM_AVX2 [[gnu::target("avx2")]]
#else
#define NBSIM_WIDE_DECODER 0
#endif
#else
#define NBSIM_VECTOR_DECODER 0
#define NBSIM_WIDE_DECODER 0
#endif
