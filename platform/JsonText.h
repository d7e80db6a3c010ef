// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// JSON strings and integers as the program writes them (the MQTT payloads, the subcommands' --json): quotes
// and backslashes escaped, control characters as \uXXXX, everything else (UTF-8) as it is.
#include <charconv>
#include <cstdio>
#include <string>
#include <string_view>

namespace platform {

inline void appendJsonString(std::string& out, std::string_view text)
{
    out.push_back('"');
    for (char c : text) {
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(c);
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
            out += escape;
        } else {
            out.push_back(c);
        }
    }
    out.push_back('"');
}

template <typename Integer>
void appendJsonInteger(std::string& out, Integer value)
{
    char text[24];
    out.append(text, std::to_chars(text, text + sizeof text, value).ptr);
}

} // namespace platform
