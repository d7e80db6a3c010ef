// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Clock.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>

namespace platform {

namespace {
// Read from the capture thread as well as the window's: a replaced source is swapped under a
// lock, and the common case, no replacement, never takes it.
std::atomic<bool> replaced{false};
std::mutex sourceLock;
std::shared_ptr<const std::function<Micros()>> source;
} // namespace

Micros Clock::systemNow()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

Micros Clock::now()
{
    if (!replaced.load(std::memory_order_acquire)) return systemNow();
    std::shared_ptr<const std::function<Micros()>> s;
    {
        std::lock_guard lock(sourceLock);
        s = source;
    }
    return s ? (*s)() : systemNow();
}

void Clock::setSource(std::function<Micros()> s)
{
    std::lock_guard lock(sourceLock);
    source = s ? std::make_shared<const std::function<Micros()>>(std::move(s)) : nullptr;
    replaced.store(source != nullptr, std::memory_order_release);
}

} // namespace platform
