// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A single-precision value as CSV text that loses nothing: what printf("%.7g") writes (the text
// of the .asc file, see platform/NumberText.h) whenever that reads back as the same float, else
// the shortest text that does (eight or nine digits), laid out by the same %g rules.
//
// Fast: one shortest conversion (Ryu) per value. Seven digits are enough exactly when the
// shortest text has at most seven, and it is then %.7g's own text wherever the float's spacing is
// finer than that of seven decimal digits; in the few ranges where it is not (and for zero,
// subnormals and non-finite values) %.7g is written and checked by reading it back.
namespace platform {

inline constexpr int kCsvNumberMax = 16;

// Writes the text at out, which has room for kCsvNumberMax characters; returns its end.
char* appendCsvNumber(char* out, float value);

} // namespace platform
