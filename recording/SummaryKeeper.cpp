// SPDX-License-Identifier: GPL-3.0-or-later
#include "recording/SummaryKeeper.h"

#include "platform/Log.h"

SummaryKeeper::SummaryKeeper(StoreKeeper& keeper, QObject* parent) : QObject(parent), keeper_(keeper)
{
    connect(&keeper_, &StoreKeeper::saved, this, &SummaryKeeper::startWhenSaved);
}

SummaryKeeper::~SummaryKeeper()
{
    delete work_.data();
}

void SummaryKeeper::refresh(store::ObjectId session)
{
    if (session == 0) return;
    waiting_.insert(session);
    keeper_.saveContext();
    startWhenSaved();
}

void SummaryKeeper::startWhenSaved()
{
    store::ObjectContext* context = keeper_.context();
    if (work_ || waiting_.empty() || !context) return;
    // The summary describes the samples in the file: a session with some still in memory waits
    // for the save that writes them.
    for (store::ObjectId session : waiting_)
        if (!context->snapshot(session).unsaved.empty()) return;
    TrendWork::Request request{
        context->path(), AnalysisOptions::fromStored(context->settings()), {}, {}, {waiting_.begin(), waiting_.end()}};
    waiting_.clear();
    work_ = new TrendWork(std::move(request), this);
    connect(work_, &TrendWork::finished, this, [this](const TrendWork::Outcome& outcome) {
        work_->deleteLater();
        work_ = nullptr;
        if (!outcome.ok) platform::log("session summaries not made: " + outcome.message);
        for (const store::SessionSummary& made : outcome.made) keeper_.context()->keepSummary(made);
        if (!outcome.made.empty()) keeper_.saveContext();
        emit refreshed();
        startWhenSaved(); // sessions asked for meanwhile
    });
    work_->start();
}
