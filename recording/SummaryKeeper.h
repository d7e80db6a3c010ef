// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Keeps the stored summaries of the sessions the window finishes (a recording stopped, a session
// analysed whole, an undo that puts samples back) up to date, so that a trend reads them rather
// than walking every session again. Once the session's samples are saved, its summary is made on
// a thread of its own (when the kept one no longer fits) and written with the next save.
#include <QObject>
#include <QPointer>

#include <set>

#include "recording/StoreKeeper.h"
#include "recording/TrendWork.h"

class SummaryKeeper : public QObject {
    Q_OBJECT
public:
    explicit SummaryKeeper(StoreKeeper& keeper, QObject* parent = nullptr);
    ~SummaryKeeper() override; // waits for the work under way

    // The session's summary is brought up to date with its samples as they are now.
    void refresh(store::ObjectId session);

signals:
    // The summaries of these sessions were looked at, and those made are waiting for the save.
    void refreshed();

private:
    void startWhenSaved();

    StoreKeeper& keeper_;
    std::set<store::ObjectId> waiting_;
    QPointer<TrendWork> work_;
};
