// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Times and durations as the command line writes and reads them.
#include <optional>
#include <string>
#include <string_view>

#include "platform/Clock.h"

namespace cli {

using platform::Micros;

// "30" or "30s", "90s", "5m", "2h", "1.5h": a positive length of time. Nothing when it is not one.
std::optional<Micros> parseDuration(std::string_view text);

// A moment: ISO 8601 in local time ("2024-05-01T12:00:05", "2024-05-01 12:00:05.250", with or
// without a "Z" or "+02:00" offset, or a date alone for its midnight), or seconds from `start`
// ("30", "90.5"). Nothing when it is neither.
std::optional<Micros> parseMoment(std::string_view text, Micros start);

// "2024-05-01T12:00:05+02:00", with "." and `fractionDigits` digits of the second when not 0.
std::string isoLocal(Micros time, int fractionDigits = 0);

// "1h 02m 03s", "5m 00s", "42s", "0.25s".
std::string durationText(Micros length);

// 1234567 as "1,234,567": counts people read.
std::string grouped(long long count);

} // namespace cli
