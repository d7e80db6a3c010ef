// SPDX-License-Identifier: GPL-3.0-or-later
// Test program: starts like Quivra on the store of $XDG_DATA_HOME, then adds a sample to the
// active session every 10 ms through the object context and prints each sample's time stamp
// ("sample <microseconds>") once it is in the context. Tests kill it and inspect the store.
#include <QApplication>
#include <QTimer>

#include <cstdio>

#include "tests/support/Program.h"
#include "recording/Options.h"
#include "ui/QuivraAppDelegate.h"
#include "recording/Session.h"
#include "platform/TerminationSignals.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    platform::quitOnTerminationSignals(&QuivraAppDelegate::endOnSignal);
    Program delegateProgram;
    QuivraAppDelegate& delegate = delegateProgram.delegate;
    delegate.applicationDidFinishLaunchingWithOptions();

    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, [&delegate] {
        Session active = delegate.baseModel().options().activeSession();
        const platform::Micros now = platform::Clock::now();
        delegate.managedObjectContext()->insertSample(now, 0.25f, -0.5f, -1.0f, active.objectId());
        std::printf("sample %lld\n", static_cast<long long>(now));
        std::fflush(stdout);
    });
    timer.start(10);
    int status = app.exec();
    delegate.applicationWillTerminate();
    return status;
}
