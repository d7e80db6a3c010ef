// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The sessions of one machine and point in time order, each with its summary (velocity RMS per
// axis, RMS): what `quivra trend` prints and the window's trend draws.
#include <atomic>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/store/SessionReader.h"
#include "platform/store/Summaries.h"
#include "recording/AnalysisOptions.h"

// The analysis settings a summary was made with, as the store keeps them (without those of the
// window's view alone).
std::string summarySettings(const AnalysisOptions& options);

struct TrendPoint {
    store::SessionReader::SessionRow session;
    store::SessionSummary summary;
};

// The summary of the session's saved samples as they are now: `kept`'s when it still fits them
// and the settings, else one made now.
struct SummaryOf {
    enum class Outcome { kept, made, tooLittle, unreadable } outcome = Outcome::tooLittle;
    store::SessionSummary summary;
    store::StoreError error; // when unreadable
};
SummaryOf summaryOf(store::SessionReader& reader, const store::SessionReader::SessionRow& session,
                    const AnalysisOptions& options, const std::map<store::ObjectId, store::SessionSummary>& kept);

// The sessions of the machine and point, oldest first, with their summaries (see summaryOf);
// `made` hears of each one made, to keep it. Sessions with too little to analyse are left out.
// False with `error` when the store could not be read, or when `stop` was set.
bool trendOf(store::SessionReader& reader, const std::string& machine, const std::string& point,
             const AnalysisOptions& options, const std::function<void(const store::SessionSummary&)>& made,
             std::vector<TrendPoint>& points, store::StoreError& error, const std::atomic<bool>* stop = nullptr);
