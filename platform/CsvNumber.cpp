// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/CsvNumber.h"

#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "platform/NumberText.h"

namespace platform {

namespace {

// Per binary exponent of a normal float: whether its spacing (ulp) is below that of seven
// significant decimal digits everywhere in the binade, so that a shortest text of at most seven
// digits is also the nearest seven-digit one, which %.7g prints. False for about twenty binades
// (those starting just below a power of ten, such as [2^-10, 2^-9), which holds 0.000999).
const std::array<bool, 256>& finerThanSevenDigits()
{
    static const std::array<bool, 256> table = [] {
        std::array<bool, 256> t{};
        for (int biased = 1; biased < 255; ++biased) {
            const int e = biased - 127;
            const double ulp = std::ldexp(1.0, e - 23);
            const double spacing = std::pow(10.0, std::floor(double(e) * std::log10(2.0)) - 6);
            t[std::size_t(biased)] = ulp < spacing;
        }
        return t;
    }();
    return table;
}

// %.7g, then eight and nine digits until the text reads back as the value.
char* checkedText(char* out, float value)
{
    char* end = platform::appendNumberText(out, value);
    float back = 0;
    for (int digits = 8; digits <= 9 && std::isfinite(value); ++digits) {
        if (std::from_chars(out, end, back).ec == std::errc() && back == value) break;
        end = std::to_chars(out, out + kCsvNumberMax, value, std::chars_format::general, digits).ptr;
    }
    return end;
}

} // namespace

char* appendCsvNumber(char* out, float value)
{
    const std::uint32_t bits = std::bit_cast<std::uint32_t>(value);
    const unsigned biased = (bits >> 23) & 0xff;
    if (biased == 0 || biased == 255 || !finerThanSevenDigits()[biased]) return checkedText(out, value);

    // The shortest digits and exponent: "-d.ddde-XX".
    char sci[32];
    const char* end = std::to_chars(sci, sci + sizeof sci, value, std::chars_format::scientific).ptr;
    const char* p = sci;
    if (*p == '-') *out++ = *p++;
    char digits[12];
    int count = 0;
    for (; *p != 'e'; ++p)
        if (*p != '.') digits[count++] = *p;
    int exponent = 0;
    std::from_chars(p + 1 + (p[1] == '+'), end, exponent);

    // Laid out as %g with as many digits as it needs, never fewer than seven.
    const int precision = count > 7 ? count : 7;
    if (exponent < -4 || exponent >= precision) {
        *out++ = digits[0];
        if (count > 1) {
            *out++ = '.';
            std::memcpy(out, digits + 1, std::size_t(count - 1));
            out += count - 1;
        }
        *out++ = 'e';
        *out++ = exponent < 0 ? '-' : '+';
        const int magnitude = exponent < 0 ? -exponent : exponent;
        if (magnitude < 10) *out++ = '0';
        return std::to_chars(out, out + 4, magnitude).ptr;
    }
    if (exponent < 0) {
        *out++ = '0';
        *out++ = '.';
        for (int i = -1; i > exponent; --i) *out++ = '0';
        std::memcpy(out, digits, std::size_t(count));
        return out + count;
    }
    for (int i = 0; i <= exponent; ++i) *out++ = i < count ? digits[i] : '0';
    if (count > exponent + 1) {
        *out++ = '.';
        std::memcpy(out, digits + exponent + 1, std::size_t(count - exponent - 1));
        out += count - exponent - 1;
    }
    return out;
}

} // namespace platform
