// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/ReportContent.h"

#include <cmath>
#include <limits>

#include "platform/store/Summaries.h"
#include "recording/AnalysisOptions.h"

namespace cli {

namespace {

Outline emptyOutline(store::SessionReader& reader, store::ObjectId session, const SpanBounds& bounds)
{
    Outline outline;
    bool any = false;
    store::StoreError error;
    if (!reader.timeSpan(session, outline.from, outline.to, any, error)) storeError(error);
    outline.from = std::max(outline.from, bounds.lower);
    outline.to = std::min(outline.to, bounds.upper);
    constexpr float none = std::numeric_limits<float>::quiet_NaN();
    outline.low.assign(kOutlineSlices, {none, none, none});
    outline.high = outline.low;
    return outline;
}

void addToOutline(Outline& outline, const store::SampleValues& s)
{
    const double width = double(std::max<platform::Micros>(1, outline.to - outline.from));
    const auto slice =
        std::min(kOutlineSlices - 1,
                 std::size_t(std::max(0.0, double(s.dateStamp - outline.from) / width * double(kOutlineSlices))));
    const float values[3] = {s.x, s.y, s.z};
    for (std::size_t a = 0; a < 3; ++a) {
        float& low = outline.low[slice][a];
        float& high = outline.high[slice][a];
        // NaN compares false: the first sample of a slice sets both.
        if (!(low <= values[a])) low = values[a];
        if (!(high >= values[a])) high = values[a];
    }
}

} // namespace

ReportContent gatherReport(store::SessionReader& reader, const store::SessionReader::SessionRow& session,
                           const SpanBounds& bounds)
{
    ReportContent content;
    // Stored values that cannot be used fall back to their defaults, as in `quivra analyse`.
    const AnalysisOptions options = AnalysisOptions::fromStored(reader.settings());

    content.current.session = session;
    content.outline = emptyOutline(reader, session.id, bounds);
    content.current.result = analyseSpan(reader, session, options.settings, bounds, content.current.span,
                                         [&](const store::SampleValues& s) { addToOutline(content.outline, s); });

    store::StoreError error;
    std::vector<store::MarkerRecord> markers;
    if (!reader.markers(session.id, markers, error)) storeError(error);
    for (const auto& m : markers)
        if (m.dateStamp >= content.current.span.first && m.dateStamp <= content.current.span.last)
            content.markers.push_back(m);

    const auto& who = session.identity;
    store::ObjectId baselineId = 0;
    if (!who.machine.empty() || !who.point.empty())
        if (!store::readBaseline(reader.database(), reader.version(), who.machine, who.point, baselineId, error))
            storeError(error);
    if (baselineId != 0 && baselineId != session.id) {
        for (const auto& row : allSessions(reader)) {
            if (row.id != baselineId || row.samples < 2) continue;
            AnalysedSession baseline{row, {}, {}};
            // A baseline that cannot be analysed is left out rather than failing the report.
            try {
                baseline.result = analyseSpan(reader, row, options.settings, SpanBounds{}, baseline.span);
                content.baseline = std::move(baseline);
            } catch (const Failure& failure) {
                if (failure.status != badUsage) throw;
            }
        }
    }
    return content;
}

} // namespace cli
