// Which code the fast decoder runs: the plain loops (the portable build), 128-bit vectors on
// eight positions at a time (SSE2, every x86-64), or 256-bit vectors on sixteen (AVX2, chosen at
// run time where the processor has it), the last with the 32 vector registers of AVX-512 where
// it is there too (avx512: the same steps, without spilling the group votes to memory). Every
// variant gives the same corrections and counts.
#pragma once

#include <vector>

namespace nbsim {

enum class DecoderVariant { portable, sse2, avx2, avx512 };

// Whether the variant takes sixteen positions a step with 256-bit vectors.
inline bool isWide(DecoderVariant variant) {
  return variant == DecoderVariant::avx2 || variant == DecoderVariant::avx512;
}

// The variants this build can run on this processor, the fastest last.
std::vector<DecoderVariant> availableDecoderVariants();

// The variant decoders take unless told otherwise: the fastest available, or the one that
// NBSIM_DECODER_VARIANT names (portable, sse2, avx2 or avx512) when it is available.
DecoderVariant chosenDecoderVariant();

const char* decoderVariantName(DecoderVariant variant);

}  // namespace nbsim
