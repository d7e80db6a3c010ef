// SPDX-License-Identifier: GPL-3.0-or-later
// The trend of a machine and point in the window: the figures of `quivra trend` drawn over the
// zones, a tap that opens a session, and the stored summaries it reads, kept as sessions end.
#include <gtest/gtest.h>

#include <QTest>
#include <QToolButton>

#include <cmath>
#include <numbers>

#include <qcustomplot.h>

#include "recording/Trend.h"
#include "support/MainScreen.h"
#include "support/Saved.h"
#include "ui/TrendView.h"

namespace {

constexpr platform::Micros kDay = 86400000000LL;

// 4,000 samples of a 37.3 Hz tone on x at 200 a second, and who the session is.
void fill(store::ObjectContext& context, store::ObjectId session, platform::Micros start, double amplitude,
          const char* point = "NDE bearing")
{
    for (int i = 0; i < 4000; ++i)
        context.insertSample(start + i * 5000, float(amplitude * std::sin(2 * std::numbers::pi * 37.3 * i / 200.0)),
                             0.01f, -1.0f, session);
    context.setIdentity(session, {"", "Fan 7", point, "", "", "", 200});
}

std::vector<TrendPoint> trendInStore(MainScreen& s, std::vector<store::SessionSummary>* made = nullptr)
{
    store::SessionReader reader;
    store::StoreError error;
    std::vector<TrendPoint> points;
    EXPECT_TRUE(reader.open(s.home.storePath().toStdString(), error));
    EXPECT_TRUE(trendOf(
        reader, "Fan 7", "NDE bearing", AnalysisOptions::fromStored(reader.settings()),
        [&](const store::SessionSummary& summary) {
            if (made) made->push_back(summary);
        },
        points, error));
    return points;
}

} // namespace

TEST(Trend, TheWindowDrawsTheFiguresOfTheTrendAndATapOpensTheSession)
{
    auto s = std::make_unique<MainScreen>();
    store::ObjectContext& context = *s->delegate.managedObjectContext();
    const store::ObjectId active = s->active().objectId();
    const platform::Micros first = s->active().dateStamp() - 4 * kDay;
    std::vector<store::ObjectId> sessions;
    for (int i = 0; i < 3; ++i) {
        sessions.push_back(context.insertSession(first + i * kDay));
        fill(context, sessions.back(), first + i * kDay, 0.02 * (i + 1));
    }
    // Another point of the machine, and a session too short to analyse, are no part of it.
    fill(context, context.insertSession(first), first, 0.3, "DE bearing");
    context.setIdentity(context.insertSession(first + kDay / 2), {"", "Fan 7", "NDE bearing", "", "", "", 200});
    fill(context, active, s->active().dateStamp(), 0.1);
    sessions.push_back(active);
    ASSERT_TRUE(savedSoon(&context));
    const std::vector<TrendPoint> expected = trendInStore(*s);
    ASSERT_EQ(expected.size(), 4u);

    QToolButton* button = s->controller->view()->findChild<QToolButton*>("trendButton");
    ASSERT_TRUE(button);
    EXPECT_EQ(button->shortcut(), QKeySequence("Shift+T"));
    button->click();
    TrendView* trend = s->controller->trendView();
    ASSERT_TRUE(trend);
    ASSERT_TRUE(QTest::qWaitFor([&] { return trend->graph(3)->dataCount() == 4; }, 20000));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(trend));
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const store::SessionSummary& want = expected[i].summary;
        ASSERT_TRUE(want.hasVelocity);
        EXPECT_EQ(expected[i].session.id, sessions[i]);
        for (int series = 0; series < 5; ++series) {
            const auto point = trend->graph(series)->data()->at(int(i));
            EXPECT_EQ(point->key, double(expected[i].session.start) / 1e6);
            const double value = series < 3    ? want.velocity[std::size_t(series)]
                                 : series == 3 ? want.overallVelocity()
                                               : want.rmsMagnitude;
            EXPECT_EQ(point->value, value) << "series " << series << ", session " << i;
        }
    }
    // Growing by steps of 0.02 g: the overall velocity rises from point to point, through zones.
    EXPECT_LT(expected[0].summary.overallVelocity(), expected[2].summary.overallVelocity());
    // The four zones lie beneath the grid.
    QCPLayer* zones = trend->plot()->layer("zones");
    ASSERT_TRUE(zones);
    EXPECT_LT(zones->index(), trend->plot()->layer("grid")->index());
    const QList<QCPLayerable*> beneath = zones->children();
    EXPECT_EQ(std::count_if(beneath.begin(), beneath.end(),
                            [](QCPLayerable* l) { return qobject_cast<QCPItemRect*>(l) != nullptr; }),
              4);

    // A tap near the second point makes its session the active one and closes the trend.
    const auto second = trend->graph(3)->data()->at(1);
    const QPointF at = trend->graph(3)->coordsToPixels(second->key, second->value);
    EXPECT_EQ(trend->sessionAt(at + QPointF(10, 8)), sessions[1]);
    QTest::mouseClick(trend->plot(), Qt::LeftButton, {}, (at + QPointF(10, 8)).toPoint());
    EXPECT_EQ(s->active().objectId(), sessions[1]);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !s->controller->trendView(); }, 2000));

    // The summaries the trend made are kept: the next trend makes none.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !context.hasChanges(); }, 5000));
    std::vector<store::SessionSummary> made;
    EXPECT_EQ(trendInStore(*s, &made).size(), 4u);
    EXPECT_TRUE(made.empty());
}

TEST(Trend, ASessionsSummaryIsKeptWhenItsRecordingStopsAndFitsItsSamplesThroughAClearAndItsUndo)
{
    auto s = std::make_unique<MainScreen>();
    store::ObjectContext& context = *s->delegate.managedObjectContext();
    context.setIdentity(s->active().objectId(), {"", "Fan 7", "NDE bearing", "", "", "", 0});
    s->options().setFramerate(200);
    s->controller->startStopButtonPressed();
    const platform::Micros start = platform::Clock::now();
    for (int i = 0; i < 3000; ++i)
        s->controller->recorder()->accelerometerDidAccelerate(
            s->shared, {0.2 * std::sin(2 * std::numbers::pi * 37.3 * i / 200.0), 0.01, -1.0, start + i * 5000LL});
    QSignalSpy refreshed(&s->controller->summaries(), &SummaryKeeper::refreshed);
    s->controller->startStopButtonPressed();
    ASSERT_TRUE(QTest::qWaitFor([&] { return refreshed.count() > 0 && !context.hasChanges(); }, 20000));
    // Kept in the file: the trend finds it and makes nothing, with the figures made afresh.
    std::vector<store::SessionSummary> made;
    const std::vector<TrendPoint> kept = trendInStore(*s, &made);
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_TRUE(made.empty());
    store::SessionReader reader;
    store::StoreError error;
    ASSERT_TRUE(reader.open(s->home.storePath().toStdString(), error));
    const SummaryOf fresh = summaryOf(reader, kept[0].session, AnalysisOptions::fromStored(reader.settings()), {});
    ASSERT_EQ(fresh.outcome, SummaryOf::Outcome::made);
    EXPECT_EQ(fresh.summary.velocity, kept[0].summary.velocity);
    EXPECT_EQ(fresh.summary.rmsMagnitude, kept[0].summary.rmsMagnitude);
    EXPECT_EQ(fresh.summary.from, kept[0].summary.from);

    // Cleared, the session leaves the trend; put back, its summary fits its samples again.
    s->controller->sessionActions().clearActiveSession();
    ASSERT_TRUE(savedSoon(&context));
    EXPECT_TRUE(trendInStore(*s).empty());
    s->controller->sessionActions().undo();
    ASSERT_TRUE(savedSoon(&context));
    made.clear();
    EXPECT_EQ(trendInStore(*s, &made).size(), 1u);
    EXPECT_TRUE(made.empty());
}
