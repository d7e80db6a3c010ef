// SPDX-License-Identifier: GPL-3.0-or-later
// The main screen's trend: every session of the active session's machine and point, worked out
// from the stored summaries on a thread of its own and drawn in a window of its own.
#include "recording/BaseModel.h"
#include "recording/Options.h"
#include "recording/Session.h"
#include "recording/SessionText.h"
#include "recording/TrendWork.h"
#include "ui/MainViewController.h"
#include "ui/TrendView.h"

TrendView* MainViewController::trendView() const
{
    return trend_.data();
}

void MainViewController::trendButtonPressed()
{
    Session active = recorder_.root().options().activeSession();
    const store::SessionIdentity who = active ? active.identity() : store::SessionIdentity{};
    if (who.machine.empty() && who.point.empty()) {
        showMessage("Trend: this session names no machine or point. Give them in Sessions, Info, to follow "
                    "the point over its sessions.",
                    true);
        return;
    }
    delete trend_.data();
    auto* trend = new TrendView(QString::fromStdString(placeText(who)), view()->window());
    trend_ = trend;
    trend->setAttribute(Qt::WA_DeleteOnClose);
    trend->showMessage("Working out the trend…");
    connect(trend, &TrendView::sessionChosen, this, [this, trend](store::ObjectId session) {
        if (keeper_.context()->session(session)) {
            recorder_.selectSession(Session(keeper_.context(), session));
            saveSoon()();
        }
        trend->close();
    });
    // The trend reads the file: what is still in memory goes there first (a session recorded
    // meanwhile shows what was saved of it).
    keeper_.saveContext();
    const AnalysisOptions options = AnalysisOptions::fromStored(keeper_.context()->settings());
    auto* work = new TrendWork({keeper_.context()->path(), options, who.machine, who.point, {}}, trend);
    connect(work, &TrendWork::finished, trend,
            [this, trend, work, options, current = active.objectId()](const TrendWork::Outcome& outcome) {
                work->deleteLater();
                for (const store::SessionSummary& made : outcome.made) keeper_.context()->keepSummary(made);
                if (!outcome.made.empty()) saveSoon()();
                if (!outcome.ok) {
                    trend->showMessage("The trend could not be read: " + QString::fromStdString(outcome.message));
                    return;
                }
                trend->showTrend(outcome.points, options.settings, current, outcome.baseline);
            });
    work->start();
    trend->show();
}
