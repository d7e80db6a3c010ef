// SPDX-License-Identifier: GPL-3.0-or-later
#include "recording/TrendWork.h"

#include <algorithm>
#include <memory>

TrendWork::TrendWork(Request request, QObject* parent) : QObject(parent), request_(std::move(request)) {}

TrendWork::~TrendWork()
{
    stop_ = true;
    if (thread_.joinable()) thread_.join();
}

void TrendWork::start()
{
    thread_ = std::jthread([this] {
        auto outcome = std::make_shared<Outcome>(run(request_, &stop_));
        if (stop_) return;
        QMetaObject::invokeMethod(
            this, [this, outcome] { emit finished(*outcome); }, Qt::QueuedConnection);
    });
}

TrendWork::Outcome TrendWork::run(const Request& request, const std::atomic<bool>* stop)
{
    Outcome out;
    store::SessionReader reader;
    store::StoreError error;
    if (!reader.open(request.storePath, error)) {
        out.message = "cannot read the store: " + error.describe();
        return out;
    }
    const auto keep = [&](const store::SessionSummary& made) { out.made.push_back(made); };
    if (request.sessions.empty()) {
        out.ok = trendOf(reader, request.machine, request.point, request.options, keep, out.points, error, stop)
                 && store::readBaseline(reader.database(), reader.version(), request.machine, request.point,
                                        out.baseline, error);
        if (!out.ok) out.message = "cannot read the store: " + error.describe();
        return out;
    }
    std::map<store::ObjectId, store::SessionSummary> kept;
    std::vector<store::SessionReader::SessionRow> sessions;
    if (!store::readSummaries(reader.database(), reader.version(), kept, error) || !reader.sessions(sessions, error)) {
        out.message = "cannot read the store: " + error.describe();
        return out;
    }
    for (const auto& row : sessions) {
        if (std::find(request.sessions.begin(), request.sessions.end(), row.id) == request.sessions.end()) continue;
        SummaryOf s = summaryOf(reader, row, request.options, kept);
        if (s.outcome == SummaryOf::Outcome::made) keep(s.summary);
        if (s.outcome == SummaryOf::Outcome::made || s.outcome == SummaryOf::Outcome::kept)
            out.points.push_back({row, s.summary});
    }
    out.ok = true;
    return out;
}
