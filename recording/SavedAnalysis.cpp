// SPDX-License-Identifier: GPL-3.0-or-later
#include "recording/SavedAnalysis.h"

#include "analysis/SessionWalk.h"

namespace {
// Ends the walk from inside the reader's visit when the samples give no rate.
struct NoRate {
    std::size_t waiting;
};
} // namespace

SavedAnalysis analyseSaved(store::SessionReader& reader, store::ObjectId session, const analysis::Settings& settings,
                           platform::Micros lower, platform::Micros upper,
                           const std::function<void(const store::SampleValues&)>& also)
{
    // One pass: the first samples wait while they give the rate, then the rest stream through.
    SavedAnalysis out;
    bool seen = false;
    analysis::SessionWalk walk(settings, [](std::size_t waiting) -> double { throw NoRate{waiting}; });
    try {
        const bool read = reader.forEachBetween(
            session, lower, upper,
            [&](const store::SampleValues& s) {
                if (!seen) out.first = s.dateStamp;
                seen = true;
                out.last = s.dateStamp;
                walk.add(s.dateStamp, s.x, s.y, s.z);
                if (also) also(s);
                return true;
            },
            out.error);
        if (!read) {
            out.outcome = SavedAnalysis::Outcome::unreadable;
            return out;
        }
        out.result = walk.result();
    } catch (const NoRate& none) {
        out.outcome = SavedAnalysis::Outcome::tooLittle;
        out.waiting = none.waiting;
    }
    return out;
}
