// SPDX-License-Identifier: GPL-3.0-or-later
// Test program: starts like Quivra on the store of $XDG_DATA_HOME, then adds a sample to the
// active session every 10 ms through the object context and prints each sample's time stamp
// ("sample <microseconds>") once it is in the context. Tests kill it and inspect the store.
#include <QApplication>
#include <QTimer>

#include <cstdio>

#include "Classes/GData.h"
#include "Classes/Options.h"
#include "Classes/QuivraAppDelegate.h"
#include "Classes/Session.h"
#include "platform/TerminationSignals.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    platform::quitOnTerminationSignals(&QuivraAppDelegate::endOnSignal);
    QuivraAppDelegate delegate;
    delegate.applicationDidFinishLaunchingWithOptions();

    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, [&delegate] {
        Session active = delegate.baseModel().options().activeSession();
        GData sample = GData::init();
        sample.setXValue(0.25f);
        sample.setYValue(-0.5f);
        sample.setZValue(-1.0f);
        sample.setCurrentSession(active);
        std::printf("sample %lld\n", static_cast<long long>(sample.dateStamp()));
        std::fflush(stdout);
    });
    timer.start(10);
    int status = app.exec();
    delegate.applicationWillTerminate();
    return status;
}
