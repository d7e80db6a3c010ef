// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/NumberText.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace platform {

char* appendNumberText(char* out, float value)
{
    return appendNumberText(out, static_cast<double>(value));
}

char* appendNumberText(char* out, double value)
{
    if (std::isnan(value)) {
        std::memcpy(out, "nan", 3);
        return out + 3;
    }
    // to_chars with a precision is defined as printf with the same conversion in the C locale,
    // without printf's locale lookup and parsing of the format.
    auto result = std::to_chars(out, out + kNumberTextMax, value, std::chars_format::general, 7);
    return result.ptr;
}

std::string numberText(float value)
{
    char buffer[kNumberTextMax];
    return std::string(buffer, appendNumberText(buffer, value));
}

std::string numberText(double value)
{
    char buffer[kNumberTextMax];
    return std::string(buffer, appendNumberText(buffer, value));
}

std::string shortestText(double value)
{
    // The longest shortest form, such as "-2.2250738585072014e-308", is 24 characters.
    char buffer[32];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    return ec == std::errc() ? std::string(buffer, end) : std::string("0");
}

std::string groupedCount(long long count)
{
    const unsigned long long magnitude =
        count < 0 ? 0ULL - static_cast<unsigned long long>(count) : static_cast<unsigned long long>(count);
    const std::string digits = std::to_string(magnitude);
    std::string out = count < 0 ? "-" : "";
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out.push_back(',');
        out.push_back(digits[i]);
    }
    return out;
}

} // namespace platform
