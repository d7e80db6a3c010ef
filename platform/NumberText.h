#pragma once
// The text form of a single-precision value: what printf("%.7g", double(v)) prints in the C locale.
// General notation with at most 7 significant digits, trailing zeros and a bare point dropped,
// exponent form below 1e-4 and from 1e7 up with at least two exponent digits ("1e-05"), "-0" for
// negative zero, a point as the decimal mark and no grouping, whatever the locale.
// Infinities are "inf" and "-inf"; every NaN is "nan" (printf would show a sign bit as "-nan",
// which carries no meaning for a measurement).
#include <string>

namespace platform {

// The longest text, such as "-1.175494e-38", is 13 characters.
inline constexpr int kNumberTextMax = 16;

// Writes the text at out, which has room for kNumberTextMax characters, and returns its end.
// No terminating zero is written.
char* appendNumberText(char* out, float value);

std::string numberText(float value);

} // namespace platform
