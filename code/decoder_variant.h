// Which code the fast decoder runs: the plain loops (the portable build), 128-bit vectors on
// eight positions at a time (SSE2, every x86-64), or 256-bit vectors on sixteen (AVX2, chosen at
// run time where the processor has it). Every variant gives the same corrections and counts.
#pragma once

#include <vector>

namespace nbsim {

enum class DecoderVariant { portable, sse2, avx2 };

// The variants this build can run on this processor, the fastest last.
std::vector<DecoderVariant> availableDecoderVariants();

// The variant decoders take unless told otherwise: the fastest available, or the one that
// NBSIM_DECODER_VARIANT names (portable, sse2 or avx2) when it is available.
DecoderVariant chosenDecoderVariant();

const char* decoderVariantName(DecoderVariant variant);

}  // namespace nbsim
