// SPDX-License-Identifier: GPL-3.0-or-later
#include "recording/Trend.h"

#include "recording/SavedAnalysis.h"

namespace {

store::SessionSummary summarise(const store::SessionReader::SessionRow& row, const store::SampleFingerprint& from,
                                const analysis::Result& r, const std::string& settings)
{
    store::SessionSummary s;
    s.session = row.id;
    s.from = from;
    s.settings = settings;
    s.rate = r.sampleRate;
    for (std::size_t a = 0; a < 3; ++a) {
        s.rms[a] = r.axes[a].levels.rms;
        s.velocity[a] = r.axes[a].velocityRms;
    }
    s.rmsMagnitude = r.magnitude.rms;
    s.hasVelocity = r.hasVelocity;
    if (r.hasVelocity) s.zone = std::string(analysis::zoneName(r.zone));
    s.isoVerdict = r.isoVerdict;
    return s;
}

} // namespace

std::string summarySettings(const AnalysisOptions& options)
{
    std::string out;
    for (const auto& [name, value] : options.toStored())
        if (name.find("span_s") == std::string::npos && name.find("frequency_scale") == std::string::npos)
            out += name + "=" + value + ";";
    return out;
}

SummaryOf summaryOf(store::SessionReader& reader, const store::SessionReader::SessionRow& session,
                    const AnalysisOptions& options, const std::map<store::ObjectId, store::SessionSummary>& kept)
{
    using Outcome = SummaryOf::Outcome;
    SummaryOf out;
    if (session.samples < 2) return out;
    store::SampleFingerprint now;
    if (!store::readFingerprint(reader.database(), session.id, session.samples, now, out.error)) {
        out.outcome = Outcome::unreadable;
        return out;
    }
    if (now.lastId == 0) return out;
    const std::string settings = summarySettings(options);
    if (auto it = kept.find(session.id); it != kept.end() && it->second.fits(now, settings)) {
        out.outcome = Outcome::kept;
        out.summary = it->second;
        return out;
    }
    SavedAnalysis walked = analyseSaved(reader, session.id, options.settings);
    if (walked.outcome == SavedAnalysis::Outcome::unreadable) {
        out.outcome = Outcome::unreadable;
        out.error = walked.error;
    } else if (walked.outcome == SavedAnalysis::Outcome::analysed) {
        out.outcome = Outcome::made;
        out.summary = summarise(session, now, walked.result, settings);
    }
    return out;
}

bool trendOf(store::SessionReader& reader, const std::string& machine, const std::string& point,
             const AnalysisOptions& options, const std::function<void(const store::SessionSummary&)>& made,
             std::vector<TrendPoint>& points, store::StoreError& error, const std::atomic<bool>* stop)
{
    points.clear();
    std::map<store::ObjectId, store::SessionSummary> kept;
    std::vector<store::SessionReader::SessionRow> sessions;
    if (!store::readSummaries(reader.database(), reader.version(), kept, error) || !reader.sessions(sessions, error))
        return false;
    for (const auto& row : sessions) {
        if (row.identity.machine != machine || row.identity.point != point) continue;
        if (stop && stop->load(std::memory_order_relaxed)) {
            error.message = "stopped";
            return false;
        }
        SummaryOf s = summaryOf(reader, row, options, kept);
        if (s.outcome == SummaryOf::Outcome::unreadable) {
            error = s.error;
            return false;
        }
        if (s.outcome == SummaryOf::Outcome::tooLittle) continue;
        if (s.outcome == SummaryOf::Outcome::made && made) made(s.summary);
        points.push_back({row, std::move(s.summary)});
    }
    return true;
}
