// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Everything a report of a session (or a span of it) shows, read and analysed in one pass over
// its samples by the same code as `quivra analyse`: who and what the session is, its markers, the
// analysis, an outline of the three axes to draw, and the baseline of its machine and point.
#include <array>
#include <optional>
#include <string>
#include <vector>

#include "analysis/Result.h"
#include "cli/AnalysisReport.h"
#include "cli/SpanAnalysis.h"
#include "platform/store/SessionReader.h"

namespace cli {

// The smallest and largest value of each axis in each of a fixed number of equal slices of the
// span: enough to draw the whole span at a page's resolution from any number of samples.
struct Outline {
    platform::Micros from = 0, to = 0;
    std::vector<std::array<float, 3>> low, high; // per slice; a slice without samples is NaN
};

struct AnalysedSession {
    store::SessionReader::SessionRow session;
    AnalysedSpan span;
    analysis::Result result;
};

struct ReportContent {
    AnalysedSession current;
    std::vector<store::MarkerRecord> markers; // those within the span
    Outline outline;
    std::optional<AnalysedSession> baseline; // the whole baseline session, with the same settings
};

// The span's slices in an outline.
constexpr std::size_t kOutlineSlices = 1500;

// Reads and analyses; Failures as analyseSpan.
ReportContent gatherReport(store::SessionReader& reader, const store::SessionReader::SessionRow& session,
                           const SpanBounds& bounds);

} // namespace cli
