// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// How a session's identity reads, wherever it is shown or looked for: the list, the status line,
// the command line and the exports' headers.
#include <string>
#include <string_view>
#include <vector>

#include "platform/store/Records.h"

// Limits for what the user gives: a name, machine, point or direction is one line; notes may
// hold lines of their own; a marker's text is short.
inline constexpr std::size_t kIdentityLineMax = 200;
inline constexpr std::size_t kNotesMax = 10000;
inline constexpr std::size_t kMarkerTextMax = 500;

// The identity as it is kept: one-line fields with control characters made spaces and the ends
// trimmed, notes without control characters but line feeds and tabs; each cut to its limit at a
// whole UTF-8 character.
store::SessionIdentity tidyIdentity(store::SessionIdentity identity);
// A marker's text as it is kept: one line, cut to kMarkerTextMax.
std::string tidyMarkerText(std::string_view text);

// "Pump 3 · DE bearing", "Pump 3", "DE bearing" or "".
std::string placeText(const store::SessionIdentity& identity);

// Whether every word of `filter` (split at white space; none: every session) occurs in the
// session's name, machine, point, direction, notes or source, or in `startText`, ignoring case.
bool matchesFilter(const store::SessionIdentity& identity, std::string_view startText, std::string_view filter);

// The identity's fields as (key, value) pairs, those with a value only, in a fixed order:
// name, machine, point, direction, notes, source, rate.
std::vector<std::pair<std::string, std::string>> identityFields(const store::SessionIdentity& identity);
