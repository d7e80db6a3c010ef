#include "platform/Clock.h"

#include <chrono>

namespace platform {

namespace {
std::function<Micros()>& source()
{
    static std::function<Micros()> s;
    return s;
}
} // namespace

Micros Clock::systemNow()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

Micros Clock::now()
{
    auto& s = source();
    return s ? s() : systemNow();
}

void Clock::setSource(std::function<Micros()> s)
{
    source() = std::move(s);
}

} // namespace platform
