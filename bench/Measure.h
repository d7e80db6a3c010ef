// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the benchmarks measure with: wall time, this process's CPU time and memory, and a stretch
// of the event loop.
#include <QEventLoop>
#include <QTimer>

#include <sys/resource.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>

namespace bench {

// Seconds on the steady clock.
inline double now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// User and system CPU seconds of this process, all its threads.
inline double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
           + 1e-6 * double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
}

// A "VmHWM:"-like line of /proc/self/status, in KiB; 0 where there is none.
inline long statusKiB(const char* field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::string(field).size());
    return 0;
}

inline void runFor(double seconds)
{
    QEventLoop loop;
    QTimer::singleShot(int(seconds * 1000), Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace bench
