// printf-style number conversions with exact decimal rounding: a double is expanded to every one
// of its decimal digits, so a tie is recognised exactly and rounded away from zero.
#include "output/number_format.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace nbsim::text {
namespace {

// A non-negative finite double written exactly: `digits` (no leading zeros, "0" for zero) with
// the last `fractionDigits` of them after the decimal point.
struct ExactDecimal {
  std::string digits;
  int fractionDigits = 0;
};

// Big natural numbers as base-10^9 limbs, least significant first: multiplying by small factors
// and printing in decimal are all the expansion needs.
constexpr std::uint32_t kLimbBase = 1'000'000'000;
constexpr int kLimbDigits = 9;

void multiplySmall(std::vector<std::uint32_t>& limbs, std::uint32_t factor) {
  std::uint64_t carry = 0;
  for (std::uint32_t& limb : limbs) {
    const std::uint64_t product = std::uint64_t{limb} * factor + carry;
    limb = static_cast<std::uint32_t>(product % kLimbBase);
    carry = product / kLimbBase;
  }
  while (carry != 0) {
    limbs.push_back(static_cast<std::uint32_t>(carry % kLimbBase));
    carry /= kLimbBase;
  }
}

// Multiplies by base^exponent in steps of base^chunk, the largest power that fits 32 bits.
void multiplyPower(std::vector<std::uint32_t>& limbs, std::uint32_t base, int chunk, int exponent) {
  std::uint32_t chunkFactor = 1;
  for (int i = 0; i < chunk; ++i) {
    chunkFactor *= base;
  }
  for (; exponent >= chunk; exponent -= chunk) {
    multiplySmall(limbs, chunkFactor);
  }
  std::uint32_t rest = 1;
  for (int i = 0; i < exponent; ++i) {
    rest *= base;
  }
  multiplySmall(limbs, rest);
}

ExactDecimal expandExactly(double magnitude) {
  const auto bits = std::bit_cast<std::uint64_t>(magnitude);
  const int biasedExponent = static_cast<int>((bits >> 52) & 0x7FF);
  std::uint64_t mantissa = bits & ((std::uint64_t{1} << 52) - 1);
  int exponent = -1074;  // subnormals and zero
  if (biasedExponent != 0) {
    mantissa |= std::uint64_t{1} << 52;
    exponent = biasedExponent - 1075;
  }
  if (mantissa == 0) {
    return {"0", 0};
  }
  // Trailing zero bits would only lengthen the power of five below.
  const int zeroBits = std::countr_zero(mantissa);
  mantissa >>= zeroBits;
  exponent += zeroBits;

  std::vector<std::uint32_t> limbs;
  for (; mantissa != 0; mantissa /= kLimbBase) {
    limbs.push_back(static_cast<std::uint32_t>(mantissa % kLimbBase));
  }
  ExactDecimal result;
  if (exponent >= 0) {
    multiplyPower(limbs, 2, 31, exponent);
  } else {
    // m * 2^-n = m * 5^n / 10^n: an integer with n digits after the point.
    multiplyPower(limbs, 5, 13, -exponent);
    result.fractionDigits = -exponent;
  }
  result.digits = std::to_string(limbs.back());
  for (auto limb = limbs.rbegin() + 1; limb != limbs.rend(); ++limb) {
    const std::string part = std::to_string(*limb);
    result.digits.append(kLimbDigits - part.size(), '0');
    result.digits += part;
  }
  return result;
}

// Keeps the first `keep` digits (padding with zeros) and rounds half away from zero. The digits
// are exact, so a first dropped digit of 5 or more means the dropped part is at least half a unit.
// A carry out of the leading digit makes the result one digit longer ("999" -> "1000").
std::string roundDigits(const std::string& digits, std::size_t keep) {
  std::string kept = digits.substr(0, keep);
  kept.resize(keep, '0');
  if (digits.size() > keep && digits[keep] >= '5') {
    std::size_t pos = kept.size();
    while (pos > 0 && kept[pos - 1] == '9') {
      kept[--pos] = '0';
    }
    if (pos == 0) {
      kept.insert(kept.begin(), '1');
    } else {
      ++kept[pos - 1];
    }
  }
  return kept;
}

std::string padLeft(std::string text, int width) {
  if (width > 0 && text.size() < static_cast<std::size_t>(width)) {
    text.insert(0, static_cast<std::size_t>(width) - text.size(), ' ');
  }
  return text;
}

// printf prints infinities and NaNs without digits; this program also drops their sign.
bool formatNonFinite(double value, int width, std::string& out) {
  if (std::isnan(value)) {
    out = padLeft("nan", width);
    return true;
  }
  if (std::isinf(value)) {
    out = padLeft("inf", width);
    return true;
  }
  return false;
}

}  // namespace

std::string formatInteger(std::int64_t value, int width) {
  char buffer[24];
  // 20 characters hold any int64 with its sign, so the conversion cannot fail.
  char* end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
  return padLeft(std::string(buffer, end), width);
}

std::string formatFixed(double value, int precision, int width) {
  std::string out;
  if (formatNonFinite(value, width, out)) {
    return out;
  }
  // A negative precision counts as zero, here and in formatScientific.
  const auto places = static_cast<std::size_t>(std::max(precision, 0));
  const ExactDecimal exact = expandExactly(std::fabs(value));
  const auto fractionDigits = static_cast<std::size_t>(exact.fractionDigits);

  // Leading zeros give exactly one digit before the point: 0.0125 is "00125" with 4 after it.
  std::string digits = exact.digits;
  if (digits.size() <= fractionDigits) {
    digits.insert(0, fractionDigits + 1 - digits.size(), '0');
  }
  const std::size_t integerDigits = digits.size() - fractionDigits;
  const std::string rounded = roundDigits(digits, integerDigits + places);
  const std::size_t pointAt = rounded.size() - places;

  // The sign of negative zero and of negatives that round to zero is kept, as printf does.
  if (std::signbit(value)) {
    out += '-';
  }
  out.append(rounded, 0, pointAt);
  if (places > 0) {
    out += '.';
    out.append(rounded, pointAt, places);
  }
  return padLeft(std::move(out), width);
}

std::string formatScientific(double value, int precision, int width) {
  std::string out;
  if (formatNonFinite(value, width, out)) {
    return out;
  }
  const auto places = static_cast<std::size_t>(std::max(precision, 0));
  const ExactDecimal exact = expandExactly(std::fabs(value));
  // The leading digit's power of ten; zero ("0") comes out with exponent 0.
  int exponent = static_cast<int>(exact.digits.size()) - 1 - exact.fractionDigits;
  const std::string rounded = roundDigits(exact.digits, places + 1);
  if (rounded.size() > places + 1) {
    // 9.996 -> "1000": the carry moved the leading digit up a power of ten. The extra zero at
    // the end falls outside the digits printed below.
    ++exponent;
  }

  if (std::signbit(value)) {
    out += '-';
  }
  out += rounded[0];
  if (places > 0) {
    out += '.';
    out.append(rounded, 1, places);
  }
  out += 'e';
  out += exponent < 0 ? '-' : '+';
  const std::string exponentDigits = std::to_string(std::abs(exponent));
  out.append(exponentDigits.size() < 3 ? 3 - exponentDigits.size() : 0, '0');
  out += exponentDigits;
  return padLeft(std::move(out), width);
}

namespace {

template <typename Real>
std::string shortest(Real value) {
  if (std::isnan(value)) return "nan";
  // Enough for the longest shortest form of a double: sign, 17 digits, point and exponent.
  char buffer[32];
  const std::to_chars_result written = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, written.ptr);
}

}  // namespace

std::string formatShortest(double value) { return shortest(value); }

std::string formatShortest(float value) { return shortest(value); }

}  // namespace nbsim::text
