// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Dates as text by a Unicode date pattern (UTS #35), in the local time of the process's time zone,
// always in the Gregorian calendar with ASCII digits, English names and the hours as the pattern
// says, whatever the user's locale.
//
// Fields: G (era), y (year of era; yy = its last two digits), M and L (month: 1-2 digits, 3 "Mar",
// 4 "March", 5 "M"), d, D (day of year), E (weekday: 1-3 "Sat", 4 "Saturday", 5 "S", 6 "Sa"),
// a (AM/PM, 5 = a/p), H (0-23), k (1-24), K (0-11), h (1-12), m, s, S (fraction of the second),
// Z (1-3 "+0530", 4 "GMT+05:30", 5 "+05:30" or "Z"). Numbers are zero-padded to the field's width.
// Any other character stands for itself; text in single quotes is taken as it is, and two single
// quotes give one. An unknown letter, an over-long field or an unclosed quote is a programming
// error and throws std::invalid_argument from the constructor.
//
// The fraction is cut, not rounded, to the field's digits, so 09.9999 is written "09.999" and the
// second never rolls over.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Clock.h"

namespace platform {

class DateFormatter {
public:
    explicit DateFormatter(std::string pattern);

    const std::string& pattern() const { return pattern_; }

    std::string stringFromDate(Micros t) const;

    // The same text appended to out, for formatting millions of lines: the text of the whole
    // second is kept and only the fraction is written anew, until the second changes. The time
    // zone is therefore read once per new second.
    void appendDate(std::string& out, Micros t);

private:
    struct Field {
        char letter; // 0 for literal text
        int count;
        std::string text; // the literal text
    };
    struct FractionSlot {
        std::size_t offset;
        int count;
    };

    void render(std::string& out, Micros second, int micros, std::vector<FractionSlot>* slots) const;

    std::string pattern_;
    std::vector<Field> fields_;

    bool cacheValid_ = false;
    Micros cachedSecond_ = 0;
    std::string cachedText_;
    std::vector<FractionSlot> cachedSlots_;
};

std::string formatDate(Micros t, std::string_view pattern);

} // namespace platform
