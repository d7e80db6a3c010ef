// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The text form of a value: what printf("%.7g", double(v)) prints in the C locale.
// General notation with at most 7 significant digits, trailing zeros and a bare point dropped,
// exponent form below 1e-4 and from 1e7 up with at least two exponent digits ("1e-05"), "-0" for
// negative zero, a point as the decimal mark and no grouping, whatever the locale.
// Infinities are "inf" and "-inf"; every NaN is "nan" (printf would show a sign bit as "-nan",
// which carries no meaning for a measurement).
#include <string>

namespace platform {

// The longest text, such as "-1.175494e-38" or, for a double, "-2.225074e-308", is 14 characters.
inline constexpr int kNumberTextMax = 16;

// Writes the text at out, which has room for kNumberTextMax characters, and returns its end.
// No terminating zero is written.
char* appendNumberText(char* out, float value);
// The same for a double: printf("%.7g", value) in the C locale, NaN as "nan".
char* appendNumberText(char* out, double value);

std::string numberText(float value);
std::string numberText(double value);

// The shortest text that reads back as the same double ("0.1", "1e-05", "1234.5"), in the C
// locale; "0" for the impossible case of a value that does not fit.
std::string shortestText(double value);

// A count with a comma between groups of three digits ("1,234,567", "-1,000"), as the window and
// the command line show counts to a person, whatever the locale.
std::string groupedCount(long long count);

} // namespace platform
