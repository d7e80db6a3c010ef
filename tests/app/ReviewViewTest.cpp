// SPDX-License-Identifier: GPL-3.0-or-later
// Review as a user drives it by keys: every range it comes to draws what the store holds there,
// column by column, down to the readings themselves; cursors read the nearest reading, and a
// shift-drag has the analysis panel analyse exactly the stretch chosen. Markers stand at their
// times, and the list of them goes to each.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QTest>
#include <QToolButton>

#include <algorithm>
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

TEST(ReviewView, MarkersShowAtTheirTimesAndTheListGoesToThem)
{
    MainScreen s;
    s.delegate.window()->resize(1100, 760);
    store::ObjectContext* context = s.program.keeper.context();
    const store::ObjectId session = s.active().objectId();
    const platform::Micros t0 = 1'796'685'648'000'000;
    for (int i = 0; i < 20000; ++i) context->insertSample(t0 + i * 1000, 0.01f * float(i % 7), 0.0f, -1.0f, session);
    const platform::Micros first = t0 + 5'000'000, second = t0 + 15'000'000;
    context->insertMarker(session, first, store::MarkerRecord::Kind::event, "Belt slip");
    context->insertMarker(session, second, store::MarkerRecord::Kind::event, "Bearing knock");
    ASSERT_TRUE(s.program.keeper.saveNow());

    s.controller->reviewButtonPressed();
    ReviewView* view = s.controller->reviewView();
    ASSERT_TRUE(view);
    ASSERT_TRUE(settled(*view));
    ASSERT_EQ(view->markers().size(), 2u);

    // The columns that an amber line crosses from the top lane to the bottom one.
    auto markerColumns = [&] {
        const QImage image = view->grab().toImage();
        const QRect plot = view->plotArea().toRect();
        std::vector<int> columns;
        for (int x = plot.left(); x <= plot.right(); ++x) {
            int amber = 0;
            for (int y = plot.top(); y <= plot.bottom(); ++y)
                amber += image.pixelColor(x, y) == QColor(0xf5, 0x9e, 0x0b);
            if (amber > plot.height() / 3) columns.push_back(x);
        }
        return columns;
    };
    auto columnOf = [&](platform::Micros t) {
        return int(view->plotArea().left()
                   + double(t - view->from()) * view->plotWidth() / double(view->to() - view->from()));
    };
    auto near = [](const std::vector<int>& columns, int x) {
        return std::any_of(columns.begin(), columns.end(), [x](int c) { return std::abs(c - x) <= 1; });
    };
    std::vector<int> columns = markerColumns();
    EXPECT_EQ(columns.size(), 2u);
    EXPECT_TRUE(near(columns, columnOf(first)));
    EXPECT_TRUE(near(columns, columnOf(second)));

    // The second in the list, by its keys: a few seconds around it, cursor A at it.
    QComboBox* list = view->markerList();
    ASSERT_TRUE(list && list->isVisible());
    ASSERT_EQ(list->count(), 2);
    EXPECT_TRUE(list->itemText(1).contains("Bearing knock"));
    QTest::keyClick(list, Qt::Key_Down);
    QTest::keyClick(list, Qt::Key_Down);
    ASSERT_TRUE(settled(*view));
    EXPECT_EQ(view->cursor(0), second);
    EXPECT_LT(view->from(), second);
    EXPECT_GT(view->to(), second);
    EXPECT_LE(view->to() - view->from(), 5'000'000);
    ASSERT_TRUE(view->shown()->cursors.size() == 1 && view->shown()->cursors[0]);
    EXPECT_EQ(view->shown()->cursors[0]->dateStamp, second);
    columns = markerColumns();
    ASSERT_EQ(columns.size(), 1u);
    EXPECT_NEAR(columns[0], columnOf(second), 1);
    EXPECT_NEAR(columns[0], view->plotArea().center().x(), 2);

    // M marks the moment of cursor A, in the store and on show.
    view->setFocus();
    view->setCursor(0, t0 + 14'000'000);
    QTest::keyClick(view, Qt::Key_M);
    ASSERT_EQ(context->markers(session).size(), 3u);
    EXPECT_EQ(context->markers(session)[1].dateStamp, t0 + 14'000'000);
    EXPECT_EQ(view->markers().size(), 3u);
    EXPECT_EQ(list->count(), 3);
    EXPECT_EQ(markerColumns().size(), 2u);
}
