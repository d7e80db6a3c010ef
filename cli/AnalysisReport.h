// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What `quivra analyse` prints: an analysis result with what it covers, as text for people or
// as one JSON object.
#include <string>

#include "analysis/Result.h"
#include "platform/Clock.h"

namespace cli {

struct AnalysedSpan {
    long long session = 0;
    platform::Micros sessionStart = 0;
    platform::Micros first = 0, last = 0; // the first and last sample analysed
    std::string name, machine, point;     // who and what the session is, when described
};

std::string reportText(const AnalysedSpan& span, const analysis::Result& result);
std::string reportJson(const AnalysedSpan& span, const analysis::Result& result);

} // namespace cli
