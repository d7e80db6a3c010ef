#include "platform/Log.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
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
    std::time_t seconds = static_cast<std::time_t>(when / 1000000);
    std::tm local{};
    localtime_r(&seconds, &local);
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d.%03d Quivra[%ld] ",
                  local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                  local.tm_min, local.tm_sec, static_cast<int>((when % 1000000) / 1000), pid);
    std::string line(stamp);
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
