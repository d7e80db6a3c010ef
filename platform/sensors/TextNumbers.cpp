// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/sensors/TextNumbers.h"

#include <charconv>
#include <cmath>

namespace sensors {

std::string_view trimmed(std::string_view text)
{
    constexpr std::string_view blank = " \t\r\n";
    const auto first = text.find_first_not_of(blank);
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(blank);
    return text.substr(first, last - first + 1);
}

bool parseFiniteNumber(std::string_view text, double& out)
{
    text = trimmed(text);
    // from_chars takes no plus sign; one is allowed here, but not "+-1".
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (!text.empty() && text.front() == '-') return false;
    }
    if (text.empty()) return false;
    double value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) return false;
    out = value;
    return true;
}

} // namespace sensors
