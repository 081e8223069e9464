// printf-style number conversions of the report and the console. Unlike the C library, scientific
// notation carries a three-digit exponent (2.40e-001), and a value exactly halfway between two
// outputs is rounded away from zero (0.03125 gives 3.13e-002). Every number the program prints
// goes through these functions.
#pragma once

#include <cstdint>
#include <string>

namespace nbsim::text {

// %d, %ld, %4d, %10d: signed decimal, right-aligned in `width` characters (0: as many as needed);
// a longer number takes the characters it needs.
std::string formatInteger(std::int64_t value, int width = 0);

// %.5f, %4.2f, %6.2f: fixed point with `precision` digits after the point, right-aligned in
// `width` characters. The exact binary value is rounded; exact ties go away from zero.
// Infinity prints as "inf", not-a-number as "nan" (no sign), right-aligned in the width.
std::string formatFixed(double value, int precision, int width = 0);

// %6.2e, %10.2e: one digit, the point, `precision` digits, 'e', the exponent's sign and three
// exponent digits, right-aligned in `width` characters. Rounding, inf and nan as formatFixed.
std::string formatScientific(double value, int precision, int width = 0);

// The shortest decimal text that reads back to exactly `value` (std::to_chars), for files that
// programs read: "0.24" for the float nearest 0.24, "1e-06", "123". Infinity prints as "inf" or
// "-inf", not-a-number as "nan" whatever its sign bit.
std::string formatShortest(double value);
std::string formatShortest(float value);

}  // namespace nbsim::text
