// SPDX-License-Identifier: GPL-3.0-or-later
// The session list with many sessions, beside the same list with ten, in the same run:
//  - opening it (popover shown and laid out, first rows drawn; goal with 10,000: under 50 ms);
//  - deleting one session from it (the confirmed delete's first half; goal: under 20 ms).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "tests/support/Program.h"
#include "recording/BaseModel.h"
#include "ui/LoadSessionPopoverController.h"
#include "ui/MainViewController.h"
#include "recording/Options.h"
#include "ui/Popover.h"
#include "ui/QuivraAppDelegate.h"
#include "recording/Session.h"
#include "bench/Measure.h"

namespace {

using bench::now;

struct Store {
    QTemporaryDir home;
    std::unique_ptr<Program> program;
    QuivraAppDelegate* delegate = nullptr;
    Store()
    {
        setenv("HOME", home.path().toLocal8Bit().constData(), 1);
        setenv("XDG_DATA_HOME", (home.path() + "/data").toLocal8Bit().constData(), 1);
        program = std::make_unique<Program>();
        delegate = &program->delegate;
        delegate->applicationDidFinishLaunchingWithOptions();
    }
    // Tops the store up to this many sessions.
    void ensure(std::size_t sessions)
    {
        BaseModel root = delegate->baseModel();
        for (std::size_t n = root.sessions().size(); n < sessions; ++n)
            Session::init(*root.managedObjectContext()).setBaseModel(root);
        delegate->saveNow();
        QApplication::processEvents();
    }
    LoadSessionPopoverController* open()
    {
        delegate->mainViewController()->loadSessionButtonPressed();
        auto* popover = qobject_cast<Popover*>(QApplication::activePopupWidget());
        QApplication::processEvents();
        if (popover) popover->repaint();
        return popover ? qobject_cast<LoadSessionPopoverController*>(popover->contentViewController()) : nullptr;
    }
    void close()
    {
        if (auto* popover = qobject_cast<Popover*>(QApplication::activePopupWidget()))
            popover->dismissPopoverAnimated(false);
        QApplication::processEvents();
    }
};

std::unique_ptr<Store> theStore;
double openFew = 1e9, openMany = 1e9, deleteFew = 1e9, deleteMany = 1e9;

void Open(benchmark::State& state, std::size_t sessions, double& figure)
{
    for (auto _ : state) {
        theStore->ensure(sessions);
        double t0 = now();
        theStore->open();
        double t = now() - t0;
        figure = std::min(figure, t);
        state.SetIterationTime(t);
        theStore->close();
    }
}

void Delete(benchmark::State& state, std::size_t sessions, double& figure)
{
    for (auto _ : state) {
        theStore->ensure(sessions);
        LoadSessionPopoverController* browser = theStore->open();
        double t0 = now();
        browser->commitEditingStyle(0);
        QApplication::processEvents();
        double t = now() - t0;
        figure = std::min(figure, t);
        state.SetIterationTime(t);
        theStore->close();
    }
}

// In this order: the store only grows between them.
void OpenTen(benchmark::State& s)
{
    Open(s, 10, openFew);
}
void DeleteOfTen(benchmark::State& s)
{
    Delete(s, 10, deleteFew);
}
void OpenTenThousand(benchmark::State& s)
{
    Open(s, 10000, openMany);
}
void DeleteOfTenThousand(benchmark::State& s)
{
    Delete(s, 10000, deleteMany);
}

} // namespace

BENCHMARK(OpenTen)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);
BENCHMARK(DeleteOfTen)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(OpenTenThousand)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);
BENCHMARK(DeleteOfTenThousand)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    theStore = std::make_unique<Store>();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    theStore.reset();
    benchmark::Shutdown();
    std::printf("\nsession list figures (best of the runs above)\n");
    std::printf("  open with 10,000 sessions: %7.2f ms  vs with 10 %7.2f ms (goal < 50 ms)\n", openMany * 1e3,
                openFew * 1e3);
    std::printf("  delete one of 10,000:      %7.2f ms  vs one of 10 %7.2f ms (goal < 20 ms)\n", deleteMany * 1e3,
                deleteFew * 1e3);
    return 0;
}
