// SPDX-License-Identifier: GPL-3.0-or-later
// Fast recording's figures, each beside a baseline from the same run:
//  - start-up (store opened, root loaded, main screen built from the newest rows) with a store of
//    12,000,000 samples, one hour at 3,200 a second (goal: under 50 ms), beside an empty store;
//  - one redraw of the trace view while recording at 3,200 a second, every row an envelope of 16
//    readings (goal: under 2 ms), beside the same rows without envelopes.
// QUIVRA_BENCH_SAMPLES changes the size of the large store.
#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "tests/support/Program.h"
#include "recording/BaseModel.h"
#include "ui/GMeter.h"
#include "ui/MainViewController.h"
#include "recording/Options.h"
#include "ui/QuivraAppDelegate.h"
#include "recording/Session.h"
#include "bench/Measure.h"

namespace {

using bench::now;

// Best of a few starts of the program on the store in $XDG_DATA_HOME.
double startUp()
{
    double best = 1e9;
    for (int i = 0; i < 5; ++i) {
        const double t0 = now();
        Program delegateProgram;
        QuivraAppDelegate& delegate = delegateProgram.delegate;
        delegate.applicationDidFinishLaunchingWithOptions();
        best = std::min(best, now() - t0);
        delegate.applicationWillTerminate();
    }
    return best;
}

SharedViewBuffer rows(bool envelope)
{
    std::mt19937 random(7);
    std::normal_distribution<float> g(0.0f, 0.3f);
    auto buffer = std::make_shared<ViewBuffer>();
    for (int i = 0; i < 181; ++i) {
        ViewRow row{g(random), g(random), -1.0f + g(random)};
        if (envelope) {
            row.envelope = true;
            row.low = {row.x - 0.4f, row.y - 0.3f, row.z - 0.5f};
            row.high = {row.x + 0.4f, row.y + 0.3f, row.z + 0.5f};
        }
        buffer->push_back(row);
    }
    return buffer;
}

double redraw(bool envelope)
{
    GMeter meter;
    meter.resize(1024, 680);
    QImage image(1024, 680, QImage::Format_ARGB32_Premultiplied);
    meter.setGData(rows(envelope), 123457);
    double best = 1e9;
    for (int i = 0; i < 200; ++i) {
        const double t0 = now();
        QPainter painter(&image);
        painter.fillRect(image.rect(), Qt::white);
        meter.drawRect(painter);
        painter.end();
        best = std::min(best, now() - t0);
    }
    return best;
}

} // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    const char* asked = std::getenv("QUIVRA_BENCH_SAMPLES");
    const long long samples = asked ? std::atoll(asked) : 12000000;

    QTemporaryDir emptyHome, bigHome;
    setenv("HOME", emptyHome.path().toLocal8Bit().constData(), 1);
    setenv("XDG_DATA_HOME", (emptyHome.path() + "/data").toLocal8Bit().constData(), 1);
    const double empty = startUp();

    setenv("HOME", bigHome.path().toLocal8Bit().constData(), 1);
    setenv("XDG_DATA_HOME", (bigHome.path() + "/data").toLocal8Bit().constData(), 1);
    double filled = 0;
    {
        Program delegateProgram;
        QuivraAppDelegate& delegate = delegateProgram.delegate;
        delegate.applicationDidFinishLaunchingWithOptions();
        delegate.baseModel().options().setFramerate(3200);
        store::ObjectContext* context = delegate.managedObjectContext();
        const store::ObjectId session = delegate.baseModel().options().activeSession().objectId();
        const double t0 = now();
        for (long long i = 0; i < samples; ++i) {
            context->insertSample(1700000000000000 + i * 312, float(std::sin(double(i) * 0.3)), 0.01f, -1.0f, session);
            if (i % 1000000 == 999999) delegate.saveNow(); // as an hour of recording would have
        }
        delegate.applicationWillTerminate();
        filled = now() - t0;
    }
    const double big = startUp();
    const double plain = redraw(false), envelope = redraw(true);

    std::printf("fast recording figures\n");
    std::printf("  start-up with %lld samples: %.1f ms  vs an empty store %.1f ms (goal < 50 ms; the store was filled "
                "in %.0f s)\n",
                samples, big * 1e3, empty * 1e3, filled);
    std::printf("  redraw at 3,200 a second (181 rows of 16 readings): %.2f ms  vs plain rows %.2f ms (goal < 2 ms)\n",
                envelope * 1e3, plain * 1e3);
    return 0;
}
