// SPDX-License-Identifier: GPL-3.0-or-later
#include "analysis/SessionWalk.h"

#include <span>

namespace analysis {

SessionWalk::SessionWalk(const Settings& settings, NoRate noRate) : settings_(settings), noRate_(std::move(noRate))
{
    waiting_.reserve(kRateSamples);
}

void SessionWalk::begin()
{
    double rate = estimateSampleRate(std::span<const Sample>(waiting_));
    if (!(rate > 0)) rate = noRate_(waiting_.size());
    analyser_.emplace(settings_, rate);
    analyser_->add(std::span<const Sample>(waiting_));
    // Never needed again: the rest streams straight through.
    waiting_ = {};
}

Result SessionWalk::result()
{
    if (!analyser_) begin();
    return analyser_->result();
}

} // namespace analysis
