// SPDX-License-Identifier: GPL-3.0-or-later
#include "recording/RateWatch.h"

#include <cmath>

namespace {

// "3,200" or "12.5": a rate as people read it.
std::string rateText(double rate)
{
    const double tenths = std::round(rate * 10);
    const long long whole = static_cast<long long>(tenths / 10);
    std::string digits = std::to_string(whole), out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out.push_back(',');
        out.push_back(digits[i]);
    }
    const int fraction = int(std::fmod(tenths, 10));
    return fraction ? out + "." + std::to_string(fraction) : out;
}

} // namespace

void RateWatch::begin(double asked, platform::Micros now)
{
    asked_ = asked;
    since_ = now;
    pending_ = 0;
    slices_.assign(1, Slice{now, 0});
    achieved_ = 0;
    off_ = false;
}

void RateWatch::end()
{
    asked_ = 0;
    slices_.clear();
    off_ = false;
}

bool RateWatch::update(platform::Micros now)
{
    if (!isWatching()) return false;
    slices_.push_back(Slice{now, pending_});
    pending_ = 0;
    // The oldest slice kept marks where the window begins; its own readings came before it.
    while (slices_.size() > 2 && slices_[1].at <= now - window_) slices_.pop_front();
    if (now - since_ < window_) return false;
    std::int64_t readings = 0;
    for (std::size_t i = 1; i < slices_.size(); ++i) readings += slices_[i].readings;
    const double seconds = double(now - slices_.front().at) / 1e6;
    if (seconds <= 0) return false;
    achieved_ = double(readings) / seconds;
    const bool off = achieved_ < 0.9 * asked_ || achieved_ > 1.1 * asked_;
    const bool changed = off != off_;
    off_ = off;
    return changed;
}

std::string RateWatch::describe() const
{
    if (!off_) return {};
    const int percent = achieved_ < asked_ ? 90 : 110;
    return rateText(achieved_) + " a second arrive, " + (achieved_ < asked_ ? "under " : "over ")
           + std::to_string(percent) + " % of the " + rateText(asked_) + " asked";
}
