#include "code/decoder_variant.h"

#include <cstdlib>
#include <cstring>

#include "code/vector_support.h"

namespace nbsim {

std::vector<DecoderVariant> availableDecoderVariants() {
#if NBSIM_VECTOR_DECODER
  std::vector<DecoderVariant> variants{DecoderVariant::sse2};
#if NBSIM_WIDE_DECODER
  if (__builtin_cpu_supports("avx2")) {
    variants.push_back(DecoderVariant::avx2);
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl") &&
        __builtin_cpu_supports("avx512bw")) {
      variants.push_back(DecoderVariant::avx512);
    }
  }
#endif
  return variants;
#else
  return {DecoderVariant::portable};
#endif
}

DecoderVariant chosenDecoderVariant() {
  const std::vector<DecoderVariant> variants = availableDecoderVariants();
  if (const char* asked = std::getenv("NBSIM_DECODER_VARIANT")) {
    for (const DecoderVariant variant : variants) {
      if (std::strcmp(asked, decoderVariantName(variant)) == 0) return variant;
    }
  }
  return variants.back();
}

const char* decoderVariantName(DecoderVariant variant) {
  switch (variant) {
    case DecoderVariant::portable:
      return "portable";
    case DecoderVariant::sse2:
      return "sse2";
    case DecoderVariant::avx2:
      return "avx2";
    case DecoderVariant::avx512:
      return "avx512";
  }
  return "?";
}

}  // namespace nbsim
