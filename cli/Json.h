// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The little JSON the subcommands write: one object per line, no spaces, numbers as the exports
// write them (%.7g), and null for a value that is not a number, so the text is always valid.
#include <cmath>
#include <string>
#include <string_view>

#include "platform/JsonText.h"
#include "platform/NumberText.h"

namespace cli::json {

inline void string(std::string& out, std::string_view text)
{
    platform::appendJsonString(out, text);
}

inline void number(std::string& out, double value)
{
    if (!std::isfinite(value)) {
        out += "null";
        return;
    }
    // Not printf: QCoreApplication takes the user's locale, which may write "0,5".
    char text[platform::kNumberTextMax];
    out.append(text, platform::appendNumberText(text, value));
}

inline void integer(std::string& out, long long value)
{
    platform::appendJsonInteger(out, value);
}

// `"name":` after a comma unless it opens the object.
inline void key(std::string& out, std::string_view name)
{
    if (out.back() != '{') out.push_back(',');
    string(out, name);
    out.push_back(':');
}

// `"name":value`, after a comma unless it opens the object.
inline void string(std::string& out, std::string_view name, std::string_view text)
{
    key(out, name);
    string(out, text);
}

inline void number(std::string& out, std::string_view name, double value)
{
    key(out, name);
    number(out, value);
}

inline void integer(std::string& out, std::string_view name, long long value)
{
    key(out, name);
    integer(out, value);
}

} // namespace cli::json
