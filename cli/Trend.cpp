// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/Trend.h"

#include <sys/stat.h>

#include "cli/CommandLine.h"
#include "cli/SpanAnalysis.h"
#include "platform/store/Schema.h"

namespace cli {

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

bool StoreWrites::open(const std::string& path, std::string& reason)
{
    struct stat info;
    store::StoreError error;
    if (::stat(path.c_str(), &info) != 0) {
        reason = "there is no store at " + path;
        return false;
    }
    if (!lock_.acquire(path, "Quivra is open on the store " + path, error) || !db_.open(path, error)
        || !store::prepareSchema(db_, error)) {
        reason = error.message;
        return false;
    }
    return true;
}

std::string summarySettings(const AnalysisOptions& options)
{
    std::string out;
    for (const auto& [name, value] : options.toStored())
        if (name.find("span_s") == std::string::npos && name.find("frequency_scale") == std::string::npos)
            out += name + "=" + value + ";";
    return out;
}

std::vector<TrendPoint> trendOf(store::SessionReader& reader, const std::string& machine, const std::string& point,
                                const AnalysisOptions& options, store::Database* keep)
{
    const std::string settings = summarySettings(options);
    store::StoreError error;
    std::map<store::ObjectId, store::SessionSummary> kept;
    if (!store::readSummaries(reader.database(), reader.version(), kept, error)) storeError(error);
    std::vector<TrendPoint> points;
    for (const auto& row : allSessions(reader)) {
        if (row.identity.machine != machine || row.identity.point != point || row.samples < 2) continue;
        store::SampleFingerprint now;
        if (!store::readFingerprint(reader.database(), row.id, row.samples, now, error)) storeError(error);
        if (now.lastId == 0) continue;
        if (auto it = kept.find(row.id); it != kept.end() && it->second.fits(now, settings)) {
            points.push_back({row, it->second});
            continue;
        }
        AnalysedSpan span;
        try {
            const analysis::Result result = analyseSpan(reader, row, options.settings, SpanBounds{}, span);
            points.push_back({row, summarise(row, now, result, settings)});
        } catch (const Failure& failure) {
            if (failure.status != badUsage) throw;
            continue;
        }
        // A summary that cannot be kept is made again next time; the trend is shown all the same.
        if (keep) store::writeSummary(*keep, points.back().summary, error);
    }
    return points;
}

} // namespace cli
