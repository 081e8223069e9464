// Tests of the printf-style number conversions: exact-value rounding with ties away from zero,
// three-digit exponents, widths, and agreement with the C library wherever there is no tie.
#include "output/number_format.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>

namespace nbsim::text {
namespace {

TEST(FormatInteger, PadsOnTheLeftAndNeverTruncates) {
  EXPECT_EQ(formatInteger(7), "7");
  EXPECT_EQ(formatInteger(7, 4), "   7");
  EXPECT_EQ(formatInteger(-42, 4), " -42");
  EXPECT_EQ(formatInteger(0, 10), "         0");
  EXPECT_EQ(formatInteger(123456, 4), "123456");
  EXPECT_EQ(formatInteger(std::numeric_limits<std::int64_t>::min()), "-9223372036854775808");
  EXPECT_EQ(formatInteger(std::numeric_limits<std::int64_t>::max(), 10), "9223372036854775807");
}

TEST(FormatFixed, ExactTiesRoundAwayFromZero) {
  EXPECT_EQ(formatFixed(0.015625, 5), "0.01563");
  EXPECT_EQ(formatFixed(0.125, 2, 4), "0.13");
  EXPECT_EQ(formatFixed(2.5, 0), "3");
  EXPECT_EQ(formatFixed(-2.5, 0), "-3");
  EXPECT_EQ(formatFixed(0.5, 0), "1");
  // The tie sits in the 55th and last digit of the exact value of 0.1.
  EXPECT_EQ(formatFixed(0.1, 54), "0.100000000000000005551115123125782702118158340454101563");
}

TEST(FormatFixed, NonTiesRoundTheExactBinaryValue) {
  EXPECT_EQ(formatFixed(static_cast<double>(0.24F), 5), "0.24000");
  EXPECT_EQ(formatFixed(1.005, 2), "1.00");  // just below 1.005
  EXPECT_EQ(formatFixed(3.14159, 2, 6), "  3.14");
  EXPECT_EQ(formatFixed(9.9996, 3), "10.000");
}

TEST(FormatFixed, KeepsTheSignOfNegativeZeroLikePrintf) {
  EXPECT_EQ(formatFixed(-0.0, 5), "-0.00000");
  EXPECT_EQ(formatFixed(-0.001, 2), "-0.00");
}

TEST(FormatScientific, ExponentHasItsSignAndThreeDigits) {
  EXPECT_EQ(formatScientific(0.24, 2), "2.40e-001");
  EXPECT_EQ(formatScientific(0.0357, 2), "3.57e-002");
  EXPECT_EQ(formatScientific(1.0, 2), "1.00e+000");
  EXPECT_EQ(formatScientific(0.0, 2), "0.00e+000");
  EXPECT_EQ(formatScientific(-0.0, 2), "-0.00e+000");
  EXPECT_EQ(formatScientific(1e-300, 2), "1.00e-300");
  EXPECT_EQ(formatScientific(DBL_MAX, 2), "1.80e+308");
  EXPECT_EQ(formatScientific(DBL_MIN, 2), "2.23e-308");
  EXPECT_EQ(formatScientific(std::numeric_limits<double>::denorm_min(), 2), "4.94e-324");
}

TEST(FormatScientific, ExactTiesRoundAwayFromZero) {
  EXPECT_EQ(formatScientific(0.03125, 2, 6), "3.13e-002");
  EXPECT_EQ(formatScientific(-0.03125, 2), "-3.13e-002");
  EXPECT_EQ(formatScientific(static_cast<double>(0.24F), 2), "2.40e-001");
  EXPECT_EQ(formatScientific(2.5, 0), "3e+000");
}

TEST(FormatScientific, CarryIntoANewDigitRaisesTheExponent) {
  EXPECT_EQ(formatScientific(9.996, 2), "1.00e+001");
  EXPECT_EQ(formatScientific(9.995, 2), "9.99e+000");  // just below 9.995
  EXPECT_EQ(formatScientific(-99.96, 2), "-1.00e+002");
}

TEST(FormatScientific, WidthPadsOnTheLeftOnly) {
  EXPECT_EQ(formatScientific(0.24, 2, 10), " 2.40e-001");
  EXPECT_EQ(formatScientific(-0.24, 2, 10), "-2.40e-001");
  EXPECT_EQ(formatScientific(0.24, 2, 6), "2.40e-001");
}

TEST(FormatNonFinite, PrintsInfAndNanWithoutSignInTheWidth) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(formatScientific(inf, 2, 6), "   inf");
  EXPECT_EQ(formatScientific(-inf, 2, 10), "       inf");
  EXPECT_EQ(formatScientific(-nan, 2), "nan");
  EXPECT_EQ(formatFixed(-inf, 5), "inf");
  EXPECT_EQ(formatFixed(nan, 2, 4), " nan");
}

std::string printfResult(const char* format, double value, int precision) {
  char buffer[1500];
  std::snprintf(buffer, sizeof buffer, format, precision, value);
  return buffer;
}

// printf's result with its two-digit exponent widened to three.
std::string printfScientific(double value, int precision) {
  std::string text = printfResult("%.*e", value, precision);
  const std::size_t digitsAt = text.find('e') + 2;
  text.insert(digitsAt, 3 - (text.size() - digitsAt), '0');
  return text;
}

// Whether the exact expansion (which the C library prints at a large enough precision) lies
// exactly halfway between two results of `precision` digits: the dropped digits are a 5 and zeros.
bool isTie(const std::string& exact, int precision) {
  const std::size_t dropped = exact.find('.') + 1 + static_cast<std::size_t>(precision);
  const std::size_t end = std::min(exact.find('e'), exact.size());
  return exact[dropped] == '5' && exact.find_first_not_of('0', dropped + 1) >= end;
}

// Away from ties the result must match the C library's, whatever its tie rule. Random full
// mantissas at all scales, plus integers and short binary fractions, where ties are common.
TEST(FormatAgreement, MatchesPrintfExceptOnTies) {
  std::mt19937_64 random(20240601);
  std::uniform_real_distribution<double> decades(-12.0, 12.0);
  int ties = 0;
  for (int i = 0; i < 2000; ++i) {
    const double sign = i % 2 == 0 ? 1.0 : -1.0;
    const double scaled = sign * std::pow(10.0, decades(random));
    const double anyBits = std::bit_cast<double>(random());
    const double shortFraction =
        sign * std::ldexp(static_cast<double>(random() % 100000), -(i % 12));
    for (const double value : {scaled, anyBits, shortFraction}) {
      if (!std::isfinite(value)) {
        continue;
      }
      const std::string exactScientific = printfResult("%.*e", value, 800);
      const bool fixedFits = std::fabs(value) < 1e100;
      const std::string exactFixed = fixedFits ? printfResult("%.*f", value, 1100) : "";
      for (const int precision : {0, 2, 5, 16}) {
        if (isTie(exactScientific, precision)) {
          ++ties;
        } else {
          ASSERT_EQ(formatScientific(value, precision), printfScientific(value, precision))
              << std::hexfloat << value;
        }
        if (!fixedFits) {
          continue;
        }
        if (isTie(exactFixed, precision)) {
          ++ties;
        } else {
          ASSERT_EQ(formatFixed(value, precision), printfResult("%.*f", value, precision))
              << std::hexfloat << value;
        }
      }
    }
  }
  EXPECT_GT(ties, 0);  // the tie check does single some out
}

TEST(FormatShortest, ReadsBackToTheSameValueInTheFewestDigits) {
  EXPECT_EQ(formatShortest(0.24f), "0.24");
  EXPECT_EQ(formatShortest(static_cast<double>(0.24f)), "0.23999999463558197");
  EXPECT_EQ(formatShortest(1.0 / 3.0), "0.3333333333333333");
  EXPECT_EQ(formatShortest(1e-6), "1e-06");
  EXPECT_EQ(formatShortest(100.0), "100");
  EXPECT_EQ(formatShortest(-0.0), "-0");
  const unsigned seed = 20201206;
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937_64 random(seed);
  for (int n = 0; n < 100000; ++n) {
    const double value = std::bit_cast<double>(random());
    const float single = std::bit_cast<float>(static_cast<std::uint32_t>(random()));
    if (std::isfinite(value)) {
      ASSERT_EQ(std::strtod(formatShortest(value).c_str(), nullptr), value)
          << std::hexfloat << value;
    }
    if (std::isfinite(single)) {
      ASSERT_EQ(std::strtof(formatShortest(single).c_str(), nullptr), single)
          << std::hexfloat << single;
    }
  }
}

TEST(FormatShortest, SpellsInfinityAndNotANumberAsReadersExpect) {
  const double infinity = std::numeric_limits<double>::infinity();
  EXPECT_EQ(formatShortest(infinity), "inf");
  EXPECT_EQ(formatShortest(-infinity), "-inf");
  EXPECT_EQ(formatShortest(std::numeric_limits<float>::infinity()), "inf");
  // 0/0 carries the sign bit on common hardware; the text never does.
  EXPECT_EQ(formatShortest(std::copysign(std::numeric_limits<double>::quiet_NaN(), -1.0)), "nan");
  EXPECT_EQ(formatShortest(std::numeric_limits<float>::quiet_NaN()), "nan");
}

}  // namespace
}  // namespace nbsim::text
