// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The sessions of one machine and point in time order, each with its summary (velocity RMS per
// axis, RMS), and the store opened to keep what the command line works out (summaries, the
// baseline) beside what the window writes.
#include <string>
#include <vector>

#include "platform/store/Database.h"
#include "platform/store/SessionReader.h"
#include "platform/store/StoreLock.h"
#include "platform/store/Summaries.h"
#include "recording/AnalysisOptions.h"

namespace cli {

// The store opened for writing under its lock, as every program that writes it; a window or a
// recording that holds the store keeps it from being opened (false, with the reason).
class StoreWrites {
public:
    bool open(const std::string& path, std::string& reason);
    store::Database& database() { return db_; }

private:
    store::StoreLock lock_;
    store::Database db_;
};

// The analysis settings a summary was made with, as the store keeps them (without those of the
// window's view alone).
std::string summarySettings(const AnalysisOptions& options);

struct TrendPoint {
    store::SessionReader::SessionRow session;
    store::SessionSummary summary;
};

// The sessions of the machine and point, oldest first, with their summaries: the one kept when it
// still fits the session's samples and the settings, else one made now (and kept, when `keep` is
// given). Sessions with too little to analyse are left out.
std::vector<TrendPoint> trendOf(store::SessionReader& reader, const std::string& machine, const std::string& point,
                                const AnalysisOptions& options, store::Database* keep);

} // namespace cli
