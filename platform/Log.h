// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The system log: one line per message on standard error,
// "2026-12-07 23:12:09.123 Quivra[4242] load model".
#include <functional>
#include <string>
#include <string_view>

#include "platform/Clock.h"

namespace platform {

void log(std::string_view message);

// The whole line as written, without its line feed.
std::string logLine(std::string_view message, Micros when, long pid);

// Tests read the log through a sink; an empty sink restores standard error.
using LogSink = std::function<void(std::string_view message)>;
void setLogSink(LogSink sink);

// Logs the message and ends the process at once.
[[noreturn]] void abortWith(std::string_view message);

} // namespace platform
