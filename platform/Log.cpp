// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Log.h"

#include "platform/DateFormatter.h"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace platform {

namespace {
LogSink& sink()
{
    static LogSink s;
    return s;
}
} // namespace

std::string logLine(std::string_view message, Micros when, long pid)
{
    std::string line = formatDate(when, "yyyy-MM-dd HH:mm:ss.SSS");
    line += " Quivra[" + std::to_string(pid) + "] ";
    line.append(message);
    return line;
}

void log(std::string_view message)
{
    if (auto& s = sink()) {
        s(message);
        return;
    }
    std::string line = logLine(message, Clock::systemNow(), static_cast<long>(::getpid()));
    line.push_back('\n');
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

void setLogSink(LogSink s)
{
    sink() = std::move(s);
}

void abortWith(std::string_view message)
{
    log(message);
    std::abort();
}

} // namespace platform
