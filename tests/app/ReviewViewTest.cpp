// SPDX-License-Identifier: GPL-3.0-or-later
// Review as a user drives it by keys: every range it comes to draws what the store holds there,
// column by column, down to the readings themselves; cursors read the nearest reading, and a
// shift-drag has the analysis panel analyse exactly the stretch chosen.
#include <gtest/gtest.h>

#include <QTest>
#include <QToolButton>

#include <random>

#include "ui/AnalysisPanel.h"
#include "ui/GMeter.h"
#include "ui/ReviewView.h"
#include "support/MainScreen.h"

namespace {

struct Stored {
    std::vector<store::SampleValues> rows;

    // What the view holds against the rows of its range, column by column.
    void expectDrawn(const ReviewView& view) const
    {
        const ReviewLoader::Result* shown = view.shown();
        ASSERT_TRUE(shown && shown->ok);
        const store::Envelope& e = shown->envelope;
        ASSERT_EQ(e.from, view.from());
        ASSERT_EQ(e.to, view.to());
        const int n = int(e.columns.size());
        ASSERT_EQ(n, view.plotWidth());
        std::vector<store::Envelope::Column> want(static_cast<std::size_t>(n));
        std::vector<store::SampleValues> inRange;
        for (const store::SampleValues& r : rows) {
            if (r.dateStamp < e.from || r.dateStamp > e.to) continue;
            inRange.push_back(r);
            store::Envelope::Column& c = want[std::size_t(store::Envelope::columnOf(r.dateStamp, e.from, e.to, n))];
            const std::array<float, 3> v{r.x, r.y, r.z};
            for (int a = 0; a < 3; ++a) {
                c.min[a] = c.count ? std::min(c.min[a], v[a]) : v[a];
                c.max[a] = c.count ? std::max(c.max[a], v[a]) : v[a];
            }
            ++c.count;
        }
        ASSERT_EQ(e.count, std::int64_t(inRange.size()));
        for (int i = 0; i < n; ++i) {
            const auto &got = e.columns[std::size_t(i)], &w = want[std::size_t(i)];
            ASSERT_EQ(got.count > 0, w.count > 0) << "column " << i;
            if (w.count) {
                ASSERT_TRUE(got.min == w.min && got.max == w.max) << "column " << i;
            }
        }
        ASSERT_EQ(e.hasReadings, !inRange.empty() && std::int64_t(inRange.size()) <= n);
        if (e.hasReadings) {
            for (std::size_t i = 0; i < inRange.size(); ++i) ASSERT_EQ(e.readings[i].x, inRange[i].x);
        }
    }
};

bool settled(ReviewView& view)
{
    return QTest::qWaitFor([&] { return view.upToDate(); }, 10000);
}

} // namespace

TEST(ReviewView, ZoomAndPanByKeysDrawWhatTheStoreHolds)
{
    MainScreen s;
    s.delegate.window()->resize(1100, 760);
    store::ObjectContext* context = s.program.keeper.context();
    const store::ObjectId session = s.active().objectId();
    Stored stored;
    std::mt19937 random(4);
    std::normal_distribution<float> value(0.0f, 0.3f);
    platform::Micros t = 1'796'685'648'000'000;
    for (int i = 0; i < 60000; ++i) {
        t += i == 30000 ? 3'000'000 : 312; // a pause of three seconds halfway
        const float x = value(random), y = value(random), z = -1.0f + value(random);
        context->insertSample(t, x, y, z, session);
        stored.rows.push_back({0, t, x, y, z, session});
    }
    ASSERT_TRUE(s.program.keeper.saveNow());

    QToolButton* button = s.controller->view()->findChild<QToolButton*>("reviewButton");
    ASSERT_TRUE(button);
    EXPECT_EQ(button->shortcut(), QKeySequence("R"));
    button->click();
    ReviewView* view = s.controller->reviewView();
    ASSERT_TRUE(view);
    EXPECT_TRUE(s.controller->gMeterView()->isHidden());
    ASSERT_TRUE(settled(*view));
    EXPECT_EQ(view->from(), stored.rows.front().dateStamp);
    EXPECT_EQ(view->to(), stored.rows.back().dateStamp);
    stored.expectDrawn(*view);

    // In about the middle, where the readings pause, then from the start down to single readings.
    const platform::Micros whole = view->to() - view->from();
    auto zoomIn = [&] {
        const platform::Micros span = view->to() - view->from();
        QTest::keyClick(view, Qt::Key_Plus);
        ASSERT_TRUE(settled(*view));
        // Never narrower than a few readings.
        EXPECT_NEAR(double(view->to() - view->from()), std::max(span / 2.0, 2.0 * view->shown()->extent.gap), 2);
        stored.expectDrawn(*view);
    };
    for (int i = 0; i < 6; ++i) zoomIn();
    QTest::keyClick(view, Qt::Key_Home);
    ASSERT_TRUE(settled(*view));
    EXPECT_EQ(view->from(), stored.rows.front().dateStamp);
    for (int i = 0; i < 12; ++i) {
        zoomIn();
        if (i % 3 == 2) {
            QTest::keyClick(view, Qt::Key_Right);
            ASSERT_TRUE(settled(*view));
            stored.expectDrawn(*view);
        }
    }
    EXPECT_TRUE(view->shown()->envelope.hasReadings);
    QTest::keyClick(view, Qt::Key_Home);
    ASSERT_TRUE(settled(*view));
    EXPECT_EQ(view->from(), stored.rows.front().dateStamp);
    stored.expectDrawn(*view);
    for (int i = 0; i < 6; ++i) QTest::keyClick(view, Qt::Key_Minus);
    QTest::keyClick(view, Qt::Key_Left, Qt::ShiftModifier);
    ASSERT_TRUE(settled(*view));
    stored.expectDrawn(*view);
    QTest::keyClick(view, Qt::Key_End);
    ASSERT_TRUE(settled(*view));
    EXPECT_EQ(view->to(), stored.rows.back().dateStamp);
    stored.expectDrawn(*view);
    QTest::keyClick(view, Qt::Key_F);
    ASSERT_TRUE(settled(*view));
    EXPECT_EQ(view->to() - view->from(), whole) << view->from() << " " << view->to();

    // Two cursors read the nearest readings.
    const store::SampleValues& a = stored.rows[1000];
    view->setCursor(0, a.dateStamp + 50);
    view->setCursor(1, stored.rows[1016].dateStamp - 40);
    ASSERT_TRUE(settled(*view));
    ASSERT_EQ(view->shown()->cursors.size(), 2u);
    EXPECT_EQ(view->shown()->cursors[0]->x, a.x);
    EXPECT_EQ(view->shown()->cursors[1]->dateStamp, stored.rows[1016].dateStamp);

    // A shift-drag over the first half: the panel analyses exactly its readings.
    const int y = view->height() / 3;
    QTest::mousePress(view, Qt::LeftButton, Qt::ShiftModifier, QPoint(100, y));
    QTest::mouseMove(view, QPoint(400, y));
    QTest::mouseRelease(view, Qt::LeftButton, Qt::ShiftModifier, QPoint(400, y));
    ASSERT_TRUE(s.delegate.window()->findChild<AnalysisPanel*>());
    ASSERT_TRUE(QTest::qWaitFor([&] { return s.controller->shownAnalysis().samples > 0; }, 10000));
    ASSERT_TRUE(view->selection());
    const auto [from, to] = *view->selection();
    long long expected = 0;
    for (const store::SampleValues& r : stored.rows) expected += r.dateStamp >= from && r.dateStamp <= to;
    EXPECT_GT(expected, 1000);
    EXPECT_EQ(s.controller->shownAnalysis().samples, expected);

    // Escape: the live traces again.
    QTest::keyClick(view, Qt::Key_Escape);
    EXPECT_FALSE(s.controller->reviewView());
    EXPECT_FALSE(s.controller->gMeterView()->isHidden());
}
