// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Numbers in text files, read the same way in every locale.
#include <string_view>

namespace sensors {

// Without leading and trailing spaces, tabs, carriage returns and line feeds.
std::string_view trimmed(std::string_view text);

// The whole text (after trimming) as one finite number, such as "-12", "+0.5" or "1.5e-3".
bool parseFiniteNumber(std::string_view text, double& out);

} // namespace sensors
