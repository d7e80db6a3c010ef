// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A launched program in the test process: its own store, the main screen, and the log as text.
#include <QSignalSpy>
#include <QTest>

#include <string>
#include <string_view>
#include <vector>

#include "ui/MainViewController.h"
#include "recording/Options.h"
#include "ui/QuivraAppDelegate.h"
#include "recording/Session.h"
#include "platform/Log.h"
#include "platform/sensors/Accelerometer.h"
#include "support/Program.h"
#include "support/QuietSource.h"
#include "support/TempHome.h"

struct MainScreen {
    TempHome home;
    std::vector<std::string> log;
    Program program;
    QuivraAppDelegate& delegate = program.delegate;
    MainViewController* controller = nullptr;
    sensors::Accelerometer* shared = &program.accelerometer;

    MainScreen()
    {
        platform::setLogSink([this](std::string_view m) { log.emplace_back(m); });
        delegate.accelerometer().setSource(std::make_unique<QuietSource>());
        delegate.applicationDidFinishLaunchingWithOptions();
        controller = delegate.mainViewController();
        log.clear();
    }
    ~MainScreen()
    {
        platform::setLogSink({});
        platform::Clock::setSource({});
    }
    Options options() { return delegate.baseModel().options(); }
    Session active() { return options().activeSession(); }
    void reading(double x, double y, double z)
    {
        controller->recorder()->accelerometerDidAccelerate(shared, {x, y, z});
    }
    // Exports the active session and waits for the file (written on a thread of its own).
    void exportAndWait()
    {
        QSignalSpy done(controller, &MainViewController::exported);
        QSignalSpy failed(controller, &MainViewController::exportFailed);
        controller->exportSession();
        EXPECT_TRUE(QTest::qWaitFor([&] { return done.count() + failed.count() > 0; }, 30000));
    }
};
