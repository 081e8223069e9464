#include "code/syndrome_builder.h"

#include <algorithm>

#include "code/lane_sums.h"
#include "code/vector_support.h"

#if NBSIM_WIDE_DECODER
#include "code/wide_vote_kernels.h"
#endif

namespace nbsim {
namespace {

// Whole sums are specialised for codes of one branch of each kind with 1 .. 15 taps.
constexpr std::int32_t largestFixedTaps = 16;

// The sums of the positions j .. L - 1 of the last, partial vector (`lanes`) into the syndrome,
// its mirror and their non-zero flags.
[[maybe_unused]] inline void storePartialSums(const std::int16_t* lanes, std::int32_t j,
                                              std::int32_t L, std::int32_t mirror,
                                              std::uint32_t* syndrome, std::int16_t* flags) {
  for (std::int32_t k = 0; j + k < L; ++k) {
    const std::uint32_t value = static_cast<std::uint16_t>(lanes[k]);
    syndrome[j + k] = value;
    syndrome[j + k + mirror] = value;
    flags[j + k] = value != 0;
    flags[j + k + mirror] = value != 0;
  }
}

}  // namespace

SyndromeBuilder::SyndromeBuilder(const NonBinaryCodec& codec, const DecoderBlock& block,
                                 DecoderVariant variant) {
  const CodeDescription& code = codec.code();
  const DecoderLayout& layout = block.layout;
  information_.assign(layout.decisionSize(), InformationError{0, 0});
  checks_.assign(static_cast<std::size_t>(code.nr) * static_cast<std::size_t>(layout.L()),
                 CheckError{0, 0});
#if NBSIM_VECTOR_DECODER
  // A syndrome symbol's whole sum, of its check error and its taps, must fit 16 bits unsigned,
  // or Q be 65536, where its wrap is the reduction.
  std::int64_t largestSum = 0;
  for (std::int32_t v = 0; v < code.nr; ++v) {
    std::int64_t terms = 1;
    for (std::int32_t i = 0; i < code.nk; ++i) {
      terms += static_cast<std::int64_t>(code.polynomials[i][v].taps.size());
    }
    largestSum = std::max(largestSum, terms * (codec.alphabetSize() - 1));
  }
  if (((codec.alphabetSize() <= 32768 && largestSum <= 65535) || codec.alphabetSize() == 65536) &&
      std::all_of(
          block.informationTaps.begin(), block.informationTaps.end(),
          [&layout](const DecoderBlock::InformationTap& tap) { return tap.t < layout.L(); })) {
    const std::int32_t fixedTaps = code.nk == 1 && code.nr == 1 ? block.checks[0] : 0;
    sums_ = sumsFor<SumKind::narrow>(fixedTaps, std::make_index_sequence<largestFixedTaps>());
#if NBSIM_WIDE_DECODER
    if (isWide(variant)) {
      sums_ =
          block.bytes
              ? sumsFor<SumKind::wideBytes>(fixedTaps, std::make_index_sequence<largestFixedTaps>())
              : sumsFor<SumKind::wide>(fixedTaps, std::make_index_sequence<largestFixedTaps>());
      if (block.bytes && (block.Q & (block.Q - 1)) == 0) {
        sums_ =
            sumsFor<SumKind::wholeBytes>(fixedTaps, std::make_index_sequence<largestFixedTaps>());
        mirroredBytes_.assign(layout.mirroredSize(), 0);
      }
    }
#endif
  }
#endif
  static_cast<void>(variant);
  if (sums_ != nullptr) {
    mirrored_.assign(layout.mirroredSize(), 0);
    for (std::int32_t v = 0; v < code.nr; ++v) {
      sumStart_.push_back(static_cast<std::int32_t>(sumOffsets_.size()));
      for (std::int32_t i = 0; i < code.nk; ++i) {
        for (std::int32_t t : code.polynomials[i][v].taps) {
          sumOffsets_.push_back(layout.mirrored(i, t));
        }
      }
    }
    sumStart_.push_back(static_cast<std::int32_t>(sumOffsets_.size()));
  }
}

void SyndromeBuilder::build(DecoderBlock& block) {
  const DecoderLayout& layout = block.layout;
  // Sums cost about L / 8 vector steps per tap, an error about one scalar step per tap. The
  // sums write every syndrome symbol; errors one by one need a cleared syndrome first.
  if (sums_ != nullptr && 32 * informationCount_ >= layout.L()) {
    (this->*sums_)(block);
  } else if (block.bytes) {
    if (!syndromeCleared_) std::fill(block.syndromeBytes.begin(), block.syndromeBytes.end(), 0);
    for (std::int32_t k = 0; k < informationCount_; ++k) {
      const auto [i, c] = information_[k];
      block.addAlongByteChecks<false>(i, c, block.decision[layout.decision(i, c)]);
    }
  } else {
    if (!syndromeCleared_) {
      std::fill(block.syndrome.begin(), block.syndrome.end(), 0);
      std::fill(block.nonzero.begin(), block.nonzero.end(), 0);
    }
    for (std::int32_t k = 0; k < informationCount_; ++k) {
      const auto [i, c] = information_[k];
      block.addAlongChecks<false>(i, c, block.decision[layout.decision(i, c)]);
    }
  }
  for (std::int32_t k = 0; k < checkCount_ && block.bytes; ++k) {
    const auto [at, minusE] = checks_[k];
    const std::uint32_t sum = block.syndromeBytes[at] + minusE;
    const auto after = static_cast<std::uint8_t>(reducedOnce(sum, block.Q));
    block.syndromeBytes[at] = after;
    block.syndromeBytes[at + layout.mirror()] = after;
  }
  for (std::int32_t k = 0; k < checkCount_ && !block.bytes; ++k) {
    // Both terms are below Q <= 2^31 - 1, so the sum fits 32 bits unsigned.
    const auto [at, minusE] = checks_[k];
    const std::uint32_t sum = block.syndrome[at] + minusE;
    const std::uint32_t after = reducedOnce(sum, block.Q);
    block.syndrome[at] = after;
    block.syndrome[at + layout.mirror()] = after;
    block.nonzero[at] = after != 0;
    block.nonzero[at + layout.mirror()] = after != 0;
  }
  if (checkCount_ > 0) block.likelyNonzero = checks_[checkCount_ - 1].at;
  syndromeCleared_ = informationCount_ == 0 && checkCount_ == 0 && syndromeCleared_;
  informationCount_ = 0;
  checkCount_ = 0;
}

#if NBSIM_VECTOR_DECODER
template <SyndromeBuilder::SumKind kind, std::size_t... fixedTaps>
SyndromeBuilder::Sums SyndromeBuilder::sumsFor(std::int32_t taps,
                                               std::index_sequence<fixedTaps...>) {
#if NBSIM_WIDE_DECODER
  constexpr Sums sums[] = {
      kind == SumKind::narrow
          ? &SyndromeBuilder::addInformationSums<static_cast<std::int32_t>(fixedTaps)>
          : (kind == SumKind::wholeBytes
                 ? &SyndromeBuilder::addByteInformationSums<static_cast<std::int32_t>(fixedTaps)>
                 : &SyndromeBuilder::addWideInformationSums<static_cast<std::int32_t>(fixedTaps),
                                                            kind == SumKind::wideBytes>)...};
#else
  constexpr Sums sums[] = {
      &SyndromeBuilder::addInformationSums<static_cast<std::int32_t>(fixedTaps)>...};
#endif
  return taps > 0 && taps < static_cast<std::int32_t>(sizeof...(fixedTaps)) ? sums[taps] : sums[0];
}

template <std::int32_t fixedTaps>
void SyndromeBuilder::addInformationSums(DecoderBlock& block) {
  // Syndrome symbol (v, j) gains sum over taps t of (i, v) of error (i, j + t): eight positions
  // at a time on 16-bit lanes, reduced modulo Q once at the end.
  const auto load = [](const void* at) { return _mm_loadu_si128(static_cast<const __m128i*>(at)); };
  const auto store = [](void* at, __m128i value) {
    _mm_storeu_si128(static_cast<__m128i*>(at), value);
  };
  const __m128i zero = _mm_setzero_si128();
  // x mod Q for any 16-bit x: q = floor(x floor(2^16 / Q) / 2^16) falls short of floor(x / Q) by
  // less than x / 2^16 < 1, so x - q Q is below 2Q and one conditional subtraction ends it.
  // With Q = 65536 the inverse is 1 and Q a lane of 0: x is left as it is, its wrap the reduction.
  const __m128i Q = _mm_set1_epi16(static_cast<std::int16_t>(block.Q));
  const __m128i belowQ = _mm_set1_epi16(static_cast<std::int16_t>(block.Q - 1));
  const __m128i inverse = _mm_set1_epi16(static_cast<std::int16_t>(65536 / block.Q));
  const auto reduce = [&](__m128i x) {
    const __m128i r = _mm_sub_epi16(x, _mm_mullo_epi16(_mm_mulhi_epu16(x, inverse), Q));
    const __m128i below = _mm_cmpeq_epi16(_mm_subs_epu16(r, belowQ), zero);
    return _mm_sub_epi16(r, _mm_andnot_si128(below, Q));
  };
  const DecoderLayout& layout = block.layout;
  const std::int32_t L = layout.L();
  const std::int32_t mirror = layout.mirror();
  for (std::int32_t i = 0; i < layout.nk(); ++i) {
    const std::uint32_t* const errors = &block.decision[layout.decision(i, 0)];
    std::int16_t* const mirrored = &mirrored_[layout.mirrored(i, 0)];
    std::int32_t c = 0;
    for (; c + 8 <= L; c += 8) {
      // Less 32768 through the signed pack and back, so that every value of 16 bits passes.
      const __m128i bias = _mm_set1_epi32(32768);
      const __m128i values = _mm_xor_si128(
          _mm_packs_epi32(_mm_sub_epi32(load(errors + c), bias),
                          _mm_sub_epi32(load(errors + c + 4), bias)),
          _mm_set1_epi16(-32768));
      store(mirrored + c, values);
      store(mirrored + c + mirror, values);
    }
    for (; c < L; ++c) {
      mirrored[c] = static_cast<std::int16_t>(errors[c]);
      mirrored[c + mirror] = static_cast<std::int16_t>(errors[c]);
    }
  }
  for (std::int32_t v = 0; v < layout.nr(); ++v) {
    std::uint32_t* const syndrome = &block.syndrome[layout.syndrome(v, 0)];
    std::int16_t* const flags = &block.nonzero[layout.syndrome(v, 0)];
    const std::int32_t* const begin = sumOffsets_.data() + sumStart_[v];
    const std::int32_t* const end = sumOffsets_.data() + sumStart_[v + 1];
    for (std::int32_t j = 0; j < L; j += 8) {
      // Lanes at L and above compute nothing that is kept.
      const __m128i sum = reduce(addLanesAt<fixedTaps>(zero, mirrored_.data() + j, begin, end));
      const __m128i nonzero = _mm_andnot_si128(_mm_cmpeq_epi16(sum, zero), _mm_set1_epi16(1));
      if (j + 8 <= L) {
        const __m128i low = _mm_unpacklo_epi16(sum, zero);
        const __m128i high = _mm_unpackhi_epi16(sum, zero);
        store(syndrome + j, low);
        store(syndrome + j + 4, high);
        store(syndrome + j + mirror, low);
        store(syndrome + j + mirror + 4, high);
        store(flags + j, nonzero);
        store(flags + j + mirror, nonzero);
      } else {
        alignas(16) std::int16_t lanes[8];
        store(lanes, sum);
        storePartialSums(lanes, j, L, mirror, syndrome, flags);
      }
    }
  }
}
#endif

#if NBSIM_WIDE_DECODER
template <std::int32_t fixedTaps, bool bytes>
NBSIM_AVX2 void SyndromeBuilder::addWideInformationSums(DecoderBlock& block) {
  // As addInformationSums, sixteen positions at a time.
  const __m256i zero = _mm256_setzero_si256();
  const __m256i Q = _mm256_set1_epi16(static_cast<std::int16_t>(block.Q));
  const __m256i belowQ = _mm256_set1_epi16(static_cast<std::int16_t>(block.Q - 1));
  const __m256i inverse = _mm256_set1_epi16(static_cast<std::int16_t>(65536 / block.Q));
  const DecoderLayout& layout = block.layout;
  const std::int32_t L = layout.L();
  const std::int32_t mirror = layout.mirror();
  for (std::int32_t i = 0; i < layout.nk(); ++i) {
    const std::uint32_t* const errors = &block.decision[layout.decision(i, 0)];
    std::int16_t* const mirrored = &mirrored_[layout.mirrored(i, 0)];
    std::int32_t c = 0;
    for (; c + 16 <= L; c += 16) {
      const __m256i values =
          _mm256_xor_si256(votes::loadWideValues<true>(errors + c), _mm256_set1_epi16(-32768));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(mirrored + c), values);
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(mirrored + c + mirror), values);
    }
    for (; c < L; ++c) {
      mirrored[c] = static_cast<std::int16_t>(errors[c]);
      mirrored[c + mirror] = static_cast<std::int16_t>(errors[c]);
    }
  }
  for (std::int32_t v = 0; v < layout.nr() && bytes; ++v) {
    std::uint8_t* const syndrome = &block.syndromeBytes[layout.syndrome(v, 0)];
    const std::int32_t* const begin = sumOffsets_.data() + sumStart_[v];
    const std::int32_t* const end = sumOffsets_.data() + sumStart_[v + 1];
    for (std::int32_t j = 0; j < L; j += 16) {
      // As below; the sums are below Q <= 256, so they pack into bytes as they are.
      const __m256i x = votes::addWideLanesAt<fixedTaps>(zero, mirrored_.data() + j, begin, end);
      const __m256i r = _mm256_sub_epi16(x, _mm256_mullo_epi16(_mm256_mulhi_epu16(x, inverse), Q));
      const __m256i below = _mm256_cmpeq_epi16(_mm256_subs_epu16(r, belowQ), zero);
      const __m256i sum = _mm256_sub_epi16(r, _mm256_andnot_si256(below, Q));
      const __m128i packed =
          _mm_packus_epi16(_mm256_castsi256_si128(sum), _mm256_extracti128_si256(sum, 1));
      if (j + 16 <= L) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(syndrome + j), packed);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(syndrome + j + mirror), packed);
      } else {
        alignas(16) std::uint8_t lanes[16];
        _mm_store_si128(reinterpret_cast<__m128i*>(lanes), packed);
        for (std::int32_t k = 0; j + k < L; ++k) {
          syndrome[j + k] = lanes[k];
          syndrome[j + k + mirror] = lanes[k];
        }
      }
    }
  }
  for (std::int32_t v = 0; v < layout.nr() && !bytes; ++v) {
    std::uint32_t* const syndrome = &block.syndrome[layout.syndrome(v, 0)];
    std::int16_t* const flags = &block.nonzero[layout.syndrome(v, 0)];
    const std::int32_t* const begin = sumOffsets_.data() + sumStart_[v];
    const std::int32_t* const end = sumOffsets_.data() + sumStart_[v + 1];
    for (std::int32_t j = 0; j < L; j += 16) {
      // Lanes at L and above compute nothing that is kept; they read no further than the
      // padding after each row of mirrored_.
      const __m256i x = votes::addWideLanesAt<fixedTaps>(zero, mirrored_.data() + j, begin, end);
      const __m256i r = _mm256_sub_epi16(x, _mm256_mullo_epi16(_mm256_mulhi_epu16(x, inverse), Q));
      const __m256i below = _mm256_cmpeq_epi16(_mm256_subs_epu16(r, belowQ), zero);
      const __m256i sum = _mm256_sub_epi16(r, _mm256_andnot_si256(below, Q));
      const __m256i nonzero =
          _mm256_andnot_si256(_mm256_cmpeq_epi16(sum, zero), _mm256_set1_epi16(1));
      if (j + 16 <= L) {
        const __m256i low = _mm256_cvtepu16_epi32(_mm256_castsi256_si128(sum));
        const __m256i high = _mm256_cvtepu16_epi32(_mm256_extracti128_si256(sum, 1));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(syndrome + j), low);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(syndrome + j + 8), high);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(syndrome + j + mirror), low);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(syndrome + j + mirror + 8), high);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(flags + j), nonzero);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(flags + j + mirror), nonzero);
      } else {
        alignas(32) std::int16_t lanes[16];
        _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), sum);
        storePartialSums(lanes, j, L, mirror, syndrome, flags);
      }
    }
  }
}
#endif

#if NBSIM_WIDE_DECODER
template <std::int32_t fixedTaps>
NBSIM_AVX2 void SyndromeBuilder::addByteInformationSums(DecoderBlock& block) {
  // As addWideInformationSums, on bytes. Where L >= 32 the last vector of a row is the one that
  // ends at L - 1, overlapping the one before: it computes the same values again and stays
  // within the row.
  const DecoderLayout& layout = block.layout;
  const std::int32_t L = layout.L();
  const std::int32_t mirror = layout.mirror();
  const auto last = [L](std::int32_t j) { return j + 32 <= L ? j : L - 32; };
  // The pack works within each half; the permutation puts the eight quarters back in order.
  const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
  for (std::int32_t i = 0; i < layout.nk(); ++i) {
    const std::uint32_t* const errors = &block.decision[layout.decision(i, 0)];
    std::uint8_t* const mirrored = &mirroredBytes_[layout.mirrored(i, 0)];
    std::int32_t c = 0;
    for (; L >= 32 && c < L; c += 32) {
      const std::int32_t at = last(c);
      const __m256i* const from = reinterpret_cast<const __m256i*>(errors + at);
      const __m256i values = _mm256_permutevar8x32_epi32(
          _mm256_packus_epi16(
              _mm256_packs_epi32(_mm256_loadu_si256(from), _mm256_loadu_si256(from + 1)),
              _mm256_packs_epi32(_mm256_loadu_si256(from + 2), _mm256_loadu_si256(from + 3))),
          order);
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(mirrored + at), values);
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(mirrored + at + mirror), values);
    }
    for (; c < L; ++c) {
      mirrored[c] = static_cast<std::uint8_t>(errors[c]);
      mirrored[c + mirror] = static_cast<std::uint8_t>(errors[c]);
    }
  }
  const __m256i belowQ = _mm256_set1_epi8(static_cast<char>(block.Q - 1));
  for (std::int32_t v = 0; v < layout.nr(); ++v) {
    std::uint8_t* const syndrome = &block.syndromeBytes[layout.syndrome(v, 0)];
    const std::int32_t* const begin = sumOffsets_.data() + sumStart_[v];
    const std::int32_t* const end = sumOffsets_.data() + sumStart_[v + 1];
    for (std::int32_t j = 0; j < L; j += 32) {
      // Every read stays within the row of mirrored_: j + 31 + t < 2L + flagPad.
      const std::int32_t at = L >= 32 ? last(j) : j;
      __m256i sum = _mm256_setzero_si256();
      __m256i other = _mm256_setzero_si256();
      const std::int32_t taps = fixedTaps > 0 ? fixedTaps : static_cast<std::int32_t>(end - begin);
#pragma GCC unroll 16
      for (std::int32_t k = 0; k < taps; ++k) {
        const __m256i x = _mm256_loadu_si256(
            reinterpret_cast<const __m256i*>(mirroredBytes_.data() + begin[k] + at));
        if (k % 2 == 0) {
          sum = _mm256_add_epi8(sum, x);
        } else {
          other = _mm256_add_epi8(other, x);
        }
      }
      sum = _mm256_and_si256(_mm256_add_epi8(sum, other), belowQ);
      if (L >= 32) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(syndrome + at), sum);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(syndrome + at + mirror), sum);
      } else {
        alignas(32) std::uint8_t lanes[32];
        _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), sum);
        for (std::int32_t k = 0; k < L; ++k) {
          syndrome[k] = lanes[k];
          syndrome[k + mirror] = lanes[k];
        }
      }
    }
  }
}
#endif

}  // namespace nbsim
