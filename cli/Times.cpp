// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/Times.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "platform/DateFormatter.h"
#include "platform/NumberText.h"

namespace cli {

namespace {

std::optional<double> number(std::string_view text)
{
    double value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

// Digits at `at`, exactly `count` of them.
bool digits(std::string_view text, std::size_t at, std::size_t count, int& out)
{
    if (at + count > text.size()) return false;
    out = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        out = out * 10 + (text[i] - '0');
    }
    return true;
}

// Seconds east of UTC from "Z", "+02", "+0200" or "+02:00".
std::optional<long> offsetSeconds(std::string_view text)
{
    if (text == "Z" || text == "z") return 0;
    if (text.empty() || (text[0] != '+' && text[0] != '-')) return std::nullopt;
    const long sign = text[0] == '-' ? -1 : 1;
    int hours = 0, minutes = 0;
    if (!digits(text, 1, 2, hours)) return std::nullopt;
    std::string_view rest = text.substr(3);
    if (!rest.empty() && rest[0] == ':') rest.remove_prefix(1);
    if (!rest.empty() && (rest.size() != 2 || !digits(rest, 0, 2, minutes))) return std::nullopt;
    if (hours > 23 || minutes > 59) return std::nullopt;
    return sign * (hours * 3600L + minutes * 60L);
}

std::optional<Micros> isoMoment(std::string_view text)
{
    int year, month, day, hour = 0, minute = 0, second = 0;
    if (text.size() < 10 || !digits(text, 0, 4, year) || text[4] != '-' || !digits(text, 5, 2, month) || text[7] != '-'
        || !digits(text, 8, 2, day))
        return std::nullopt;
    std::size_t at = 10;
    Micros fraction = 0;
    if (at < text.size() && (text[at] == 'T' || text[at] == ' ')) {
        if (!digits(text, at + 1, 2, hour) || text.size() < at + 6 || text[at + 3] != ':'
            || !digits(text, at + 4, 2, minute))
            return std::nullopt;
        at += 6;
        if (at < text.size() && text[at] == ':') {
            if (!digits(text, at + 1, 2, second)) return std::nullopt;
            at += 3;
            if (at < text.size() && (text[at] == '.' || text[at] == ',')) {
                Micros scale = 100000;
                std::size_t i = at + 1;
                for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, scale /= 10)
                    fraction += (text[i] - '0') * scale;
                if (i == at + 1) return std::nullopt;
                at = i;
            }
        }
    }
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60) return std::nullopt;
    std::tm fields{};
    fields.tm_year = year - 1900;
    fields.tm_mon = month - 1;
    fields.tm_mday = day;
    fields.tm_hour = hour;
    fields.tm_min = minute;
    fields.tm_sec = second;
    std::time_t seconds;
    if (at < text.size()) {
        const auto offset = offsetSeconds(text.substr(at));
        if (!offset) return std::nullopt;
        seconds = ::timegm(&fields) - *offset;
    } else {
        fields.tm_isdst = -1; // local time, daylight saving as it was on that day
        seconds = std::mktime(&fields);
        if (seconds == std::time_t(-1)) return std::nullopt;
    }
    return Micros(seconds) * 1000000 + fraction;
}

} // namespace

std::optional<Micros> parseDuration(std::string_view text)
{
    double scale = 1;
    if (!text.empty()) {
        switch (text.back()) {
        case 's': scale = 1; break;
        case 'm': scale = 60; break;
        case 'h': scale = 3600; break;
        default: scale = 0; break;
        }
        if (scale != 0)
            text.remove_suffix(1);
        else
            scale = 1;
    }
    const auto value = number(text);
    if (!value || *value <= 0 || *value * scale > 1e9) return std::nullopt;
    return Micros(std::llround(*value * scale * 1e6));
}

std::optional<Micros> parseMoment(std::string_view text, Micros start)
{
    if (auto moment = isoMoment(text)) return moment;
    std::string_view seconds = text;
    if (!seconds.empty() && seconds.back() == 's') seconds.remove_suffix(1);
    const auto value = number(seconds);
    if (!value || std::fabs(*value) > 1e10) return std::nullopt;
    return start + Micros(std::llround(*value * 1e6));
}

std::string isoLocal(Micros time, int fractionDigits)
{
    const std::string fraction = fractionDigits > 0 ? "." + std::string(std::size_t(fractionDigits), 'S') : "";
    return platform::formatDate(time, "yyyy-MM-dd'T'HH:mm:ss" + fraction + "ZZZZZ");
}

std::string durationText(Micros length)
{
    char text[48];
    if (length < 10000000) {
        // Not printf's %f: the user's locale may write a comma.
        char* end = std::to_chars(text, text + 40, double(length) / 1e6, std::chars_format::fixed, 2).ptr;
        return std::string(text, end) + "s";
    }
    const long long whole = length / 1000000;
    if (whole < 60)
        std::snprintf(text, sizeof text, "%llds", whole);
    else if (whole < 3600)
        std::snprintf(text, sizeof text, "%lldm %02llds", whole / 60, whole % 60);
    else
        std::snprintf(text, sizeof text, "%lldh %02lldm %02llds", whole / 3600, whole / 60 % 60, whole % 60);
    return text;
}

std::string grouped(long long count)
{
    return platform::groupedCount(count);
}

} // namespace cli
