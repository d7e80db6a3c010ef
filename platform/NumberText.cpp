#include "platform/NumberText.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace platform {

char* appendNumberText(char* out, float value)
{
    if (std::isnan(value)) {
        std::memcpy(out, "nan", 3);
        return out + 3;
    }
    // to_chars with a precision is defined as printf with the same conversion in the C locale,
    // without printf's locale lookup and parsing of the format.
    auto result = std::to_chars(out, out + kNumberTextMax, static_cast<double>(value),
                                std::chars_format::general, 7);
    return result.ptr;
}

std::string numberText(float value)
{
    char buffer[kNumberTextMax];
    return std::string(buffer, appendNumberText(buffer, value));
}

} // namespace platform
