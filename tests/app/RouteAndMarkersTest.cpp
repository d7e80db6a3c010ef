// SPDX-License-Identifier: GPL-3.0-or-later
// Walking a route: a new session takes the machine and point of the one before it and notes the
// source and rate it records at; markers dropped while recording sit at their moment and go and
// come back with clears, deletes and undos as the samples do, also across a save.
#include <gtest/gtest.h>

#include <QToolButton>

#include "recording/Recorder.h"
#include "ui/GMeter.h"
#include "recording/StoreKeeper.h"
#include "support/MainScreen.h"

namespace {

std::vector<std::string> texts(const Session& session)
{
    std::vector<std::string> out;
    for (const store::MarkerRecord& m : session.markers()) out.push_back(m.text);
    return out;
}

} // namespace

TEST(RouteAndMarkers, NewSessionsWalkTheRouteAndMarkersFollowTheSamples)
{
    MainScreen s;
    Recorder* recorder = s.controller->recorder();
    s.options().setFramerate(50);
    Session first = s.active();
    recorder->describeSession(first, {"Run-up", " Pump 3\t", "DE bearing", "radial", "", "forged", 999});
    EXPECT_EQ(first.identity().machine, "Pump 3"); // tidied: one line, trimmed
    EXPECT_EQ(first.identity().source, "");        // Quivra's own fields are not the user's to give
    EXPECT_EQ(first.identity().rate, 0);

    const Session second = recorder->startNewSession();
    EXPECT_EQ(second.identity().machine, "Pump 3");
    EXPECT_EQ(second.identity().point, "DE bearing");
    EXPECT_EQ(second.identity().name, ""); // the name and the rest are the session's own
    EXPECT_EQ(second.identity().direction, "");

    recorder->start();
    s.reading(0, 0, -1);
    const platform::Micros before = platform::Clock::now();
    const store::ObjectId valve = recorder->addMarker("valve closed\nat 10:42");
    const platform::Micros after = platform::Clock::now();
    s.reading(0, 0, -1);
    // The key's marker stands on the traces at its moment and scrolls with them.
    s.controller->view()->findChild<QToolButton*>("markerButton")->click();
    GMeter* meter = s.controller->gMeterView();
    ASSERT_EQ(meter->markers().size(), 2u);
    const std::optional<float> dropped = meter->markerX(meter->markers()[1]);
    ASSERT_TRUE(dropped);
    for (int i = 0; i < 10; ++i) s.reading(0, 0, -1);
    s.controller->refreshView();
    EXPECT_FLOAT_EQ(*meter->markerX(meter->markers()[1]), *dropped - 10 * float(trace::kRowStep));
    EXPECT_FLOAT_EQ(*meter->markerX(meter->markers()[0]), *dropped - 11 * float(trace::kRowStep));
    EXPECT_TRUE(recorder->removeMarker(second.markers()[1].id));
    recorder->addMarker("run up", store::MarkerRecord::Kind::runStart);
    recorder->stop();
    EXPECT_EQ(second.identity().source, "quiet source");
    EXPECT_EQ(second.identity().rate, 50);
    ASSERT_EQ(texts(second), (std::vector<std::string>{"valve closed at 10:42", "run up"}));
    const store::MarkerRecord* marker = s.program.keeper.context()->marker(valve);
    ASSERT_NE(marker, nullptr);
    EXPECT_GE(marker->dateStamp, before);
    EXPECT_LE(marker->dateStamp, after);
    EXPECT_EQ(second.markers()[1].kind, store::MarkerRecord::Kind::runStart);

    // Clear, save, undo: the markers come back with the samples.
    EXPECT_TRUE(recorder->clearActiveSession());
    EXPECT_TRUE(second.markers().empty());
    store::StoreError error;
    ASSERT_TRUE(s.program.keeper.context()->save(error)) << error.message;
    EXPECT_TRUE(recorder->undoRemoval());
    EXPECT_EQ(texts(second), (std::vector<std::string>{"valve closed at 10:42", "run up"}));
    EXPECT_EQ(second.gData().count(), 12);
    EXPECT_EQ(meter->markers().size(), 2u); // back on the traces with the samples

    // A delete takes the identity and markers along; its undo brings them back.
    recorder->deleteSession(second);
    EXPECT_TRUE(recorder->undoRemoval());
    EXPECT_EQ(second.identity().point, "DE bearing");
    EXPECT_EQ(texts(second), (std::vector<std::string>{"valve closed at 10:42", "run up"}));

    // The marker's text is edited afterwards; a marker cannot be dropped on no session.
    EXPECT_TRUE(recorder->editMarker(valve, store::MarkerRecord::Kind::event, "valve closed"));
    EXPECT_EQ(texts(second).front(), "valve closed");
    recorder->deleteSession(second);
    EXPECT_EQ(recorder->addMarker("nowhere"), 0);
}
