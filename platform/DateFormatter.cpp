// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/DateFormatter.h"

#include <algorithm>
#include <ctime>
#include <stdexcept>

namespace platform {

namespace {

constexpr Micros kMicrosPerSecond = 1'000'000;

// Floor division, so that a time before 1970 falls in the second that contains it and its
// fraction counts forward from there.
struct SplitTime {
    Micros second;
    int micros;
};

SplitTime split(Micros t)
{
    Micros q = t / kMicrosPerSecond;
    Micros r = t % kMicrosPerSecond;
    if (r < 0) return {q - 1, static_cast<int>(r + kMicrosPerSecond)};
    return {q, static_cast<int>(r)};
}

bool isPatternLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// The widest count each letter accepts.
int maxCount(char letter)
{
    switch (letter) {
    case 'y': return 9;
    case 'G':
    case 'M':
    case 'L':
    case 'a':
    case 'Z': return 5;
    case 'E': return 6;
    case 'D': return 3;
    case 'd':
    case 'H':
    case 'h':
    case 'K':
    case 'k':
    case 'm':
    case 's': return 2;
    case 'S': return 9;
    default: return 0;
    }
}

void appendNumber(std::string& out, long long value, int width)
{
    char digits[24];
    int n = 0;
    unsigned long long v =
        value < 0 ? 0ULL - static_cast<unsigned long long>(value) : static_cast<unsigned long long>(value);
    do {
        digits[n++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v != 0);
    if (value < 0) out.push_back('-');
    for (int i = n; i < width; ++i) out.push_back('0');
    while (n > 0) out.push_back(digits[--n]);
}

// Writes count digits of the fraction, cut from the microseconds; digits past the sixth are 0.
void writeFraction(char* p, int count, int micros)
{
    static constexpr int kScale[] = {1'000'000, 100'000, 10'000, 1'000, 100, 10, 1};
    int digits = std::min(count, 6);
    int v = micros / kScale[digits];
    for (int i = digits - 1; i >= 0; --i) {
        p[i] = static_cast<char>('0' + v % 10);
        v /= 10;
    }
    std::fill(p + digits, p + count, '0');
}

const char* const kMonths[] = {"January", "February", "March",     "April",   "May",      "June",
                               "July",    "August",   "September", "October", "November", "December"};
const char* const kWeekdays[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};

// Full name (4), its first three letters (1-3), two (6) or one (5).
void appendName(std::string& out, const char* name, int count)
{
    std::string_view full(name);
    switch (count) {
    case 4: out.append(full); break;
    case 5: out.append(full.substr(0, 1)); break;
    case 6: out.append(full.substr(0, 2)); break;
    default: out.append(full.substr(0, 3)); break;
    }
}

void appendOffset(std::string& out, long offsetSeconds, int count)
{
    if (count == 5 && offsetSeconds == 0) {
        out.push_back('Z');
        return;
    }
    if (count == 4) {
        out.append("GMT");
        if (offsetSeconds == 0) return;
    }
    out.push_back(offsetSeconds < 0 ? '-' : '+');
    long minutes = (offsetSeconds < 0 ? -offsetSeconds : offsetSeconds) / 60;
    appendNumber(out, minutes / 60, 2);
    if (count >= 4) out.push_back(':');
    appendNumber(out, minutes % 60, 2);
}

std::tm localFields(Micros second)
{
    std::time_t s = static_cast<std::time_t>(second);
    std::tm local{};
    if (!localtime_r(&s, &local)) {
        // Beyond what the C library can represent; an obviously wrong but well-formed date.
        local = std::tm{};
        local.tm_mday = 1;
    }
    return local;
}

} // namespace

DateFormatter::DateFormatter(std::string pattern) : pattern_(std::move(pattern))
{
    auto addLiteral = [this](std::string_view text) {
        if (fields_.empty() || fields_.back().letter != 0) fields_.push_back(Field{0, 0, {}});
        fields_.back().text.append(text);
    };
    const std::string& p = pattern_;
    std::size_t i = 0;
    while (i < p.size()) {
        char c = p[i];
        if (c == '\'') {
            if (i + 1 < p.size() && p[i + 1] == '\'') {
                addLiteral("'");
                i += 2;
                continue;
            }
            std::string quoted;
            std::size_t j = i + 1;
            for (;; ++j) {
                if (j == p.size()) throw std::invalid_argument("date pattern has an unclosed quote: " + p);
                if (p[j] == '\'') {
                    if (j + 1 < p.size() && p[j + 1] == '\'') {
                        quoted.push_back('\'');
                        ++j;
                        continue;
                    }
                    break;
                }
                quoted.push_back(p[j]);
            }
            addLiteral(quoted);
            i = j + 1;
        } else if (isPatternLetter(c)) {
            std::size_t j = i;
            while (j < p.size() && p[j] == c) ++j;
            int count = static_cast<int>(j - i);
            if (count > maxCount(c))
                throw std::invalid_argument("date pattern has an unsupported field " + p.substr(i, j - i) + ": " + p);
            fields_.push_back(Field{c, count, {}});
            i = j;
        } else {
            addLiteral(std::string_view(&p[i], 1));
            ++i;
        }
    }
}

void DateFormatter::render(std::string& out, Micros second, int micros, std::vector<FractionSlot>* slots) const
{
    const std::tm local = localFields(second);
    const long long year = static_cast<long long>(local.tm_year) + 1900;
    const bool commonEra = year > 0;
    const long long yearOfEra = commonEra ? year : 1 - year;
    const int hour = local.tm_hour;

    for (const Field& f : fields_) {
        switch (f.letter) {
        case 0: out.append(f.text); break;
        case 'G':
            out.append(f.count == 4   ? (commonEra ? "Anno Domini" : "Before Christ")
                       : f.count == 5 ? (commonEra ? "A" : "B")
                                      : (commonEra ? "AD" : "BC"));
            break;
        case 'y':
            if (f.count == 2)
                appendNumber(out, yearOfEra % 100, 2);
            else
                appendNumber(out, yearOfEra, f.count);
            break;
        case 'M':
        case 'L':
            if (f.count <= 2)
                appendNumber(out, local.tm_mon + 1, f.count);
            else
                appendName(out, kMonths[local.tm_mon], f.count);
            break;
        case 'd': appendNumber(out, local.tm_mday, f.count); break;
        case 'D': appendNumber(out, local.tm_yday + 1, f.count); break;
        case 'E': appendName(out, kWeekdays[local.tm_wday], f.count); break;
        case 'a':
            if (f.count == 5)
                out.push_back(hour < 12 ? 'a' : 'p');
            else
                out.append(hour < 12 ? "AM" : "PM");
            break;
        case 'H': appendNumber(out, hour, f.count); break;
        case 'k': appendNumber(out, hour == 0 ? 24 : hour, f.count); break;
        case 'K': appendNumber(out, hour % 12, f.count); break;
        case 'h': appendNumber(out, hour % 12 == 0 ? 12 : hour % 12, f.count); break;
        case 'm': appendNumber(out, local.tm_min, f.count); break;
        case 's': appendNumber(out, local.tm_sec, f.count); break;
        case 'S': {
            std::size_t offset = out.size();
            out.append(static_cast<std::size_t>(f.count), '0');
            writeFraction(&out[offset], f.count, micros);
            if (slots) slots->push_back(FractionSlot{offset, f.count});
            break;
        }
        case 'Z': appendOffset(out, local.tm_gmtoff, f.count); break;
        }
    }
}

std::string DateFormatter::stringFromDate(Micros t) const
{
    SplitTime s = split(t);
    std::string out;
    render(out, s.second, s.micros, nullptr);
    return out;
}

void DateFormatter::appendDate(std::string& out, Micros t)
{
    SplitTime s = split(t);
    if (!cacheValid_ || s.second != cachedSecond_) {
        cachedText_.clear();
        cachedSlots_.clear();
        render(cachedText_, s.second, 0, &cachedSlots_);
        cachedSecond_ = s.second;
        cacheValid_ = true;
    }
    std::size_t base = out.size();
    out.append(cachedText_);
    for (const FractionSlot& slot : cachedSlots_) writeFraction(&out[base + slot.offset], slot.count, s.micros);
}

std::string formatDate(Micros t, std::string_view pattern)
{
    return DateFormatter(std::string(pattern)).stringFromDate(t);
}

} // namespace platform
