// SPDX-License-Identifier: GPL-3.0-or-later
// Session figures, each beside a baseline from the same run:
//  - exporting a stored session of 1,000,000 samples vs the user's alternative, the sqlite3
//    command printing the same rows tab-separated piped through iconv into a UTF-16 file
//    (goal: at most 0.4 x its time), and the export's peak memory growth (goal: under 64 MiB);
//  - selecting a session of 1,000,000 samples (store read, view buffer rebuilt; goal: under
//    10 ms) vs selecting an empty one.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "tests/support/Program.h"
#include "recording/BaseModel.h"
#include "ui/MainViewController.h"
#include "recording/Options.h"
#include "ui/QuivraAppDelegate.h"
#include "recording/Session.h"
#include "bench/Measure.h"

namespace {

using bench::now;
using bench::statusKiB;

QuivraAppDelegate* delegate = nullptr;
Session big, empty;
double best(double a, double b)
{
    return a < b ? a : b;
}
double exportSeconds = 1e9, pipelineSeconds = 1e9, selectBig = 1e9, selectEmpty = 1e9;
long exportPeakKiB = 0;

void ExportMillion(benchmark::State& state)
{
    delegate->baseModel().options().setActiveSession(big);
    for (auto _ : state) {
        std::ofstream("/proc/self/clear_refs") << "5"; // restart the peak from here
        long before = statusKiB("VmRSS:");
        double t0 = now();
        bool done = false;
        auto connection =
            QObject::connect(delegate->mainViewController(), &MainViewController::exported, [&] { done = true; });
        delegate->mainViewController()->exportSession();
        while (!done) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        QObject::disconnect(connection);
        double t = now() - t0;
        exportPeakKiB = std::max(exportPeakKiB, statusKiB("VmHWM:") - before);
        exportSeconds = best(exportSeconds, t);
        state.SetIterationTime(t);
    }
}

void SqliteCommandPipeline(benchmark::State& state)
{
    std::string out = QDir::tempPath().toStdString() + "/quivra-bench-pipeline.txt";
    std::string command =
        "sqlite3 -separator '\t' '" + delegate->storePath()
        + "' \"SELECT strftime('%Y-%m-%d %H:%M:%f', "
          "date_stamp / 1000000.0, 'unixepoch', 'localtime'), printf('%.7g', x_value), printf('%.7g', y_value), "
          "printf('%.7g', z_value) FROM gdata WHERE session_id = "
        + std::to_string(big.objectId()) + " ORDER BY date_stamp, id\" | iconv -t UTF-16LE > '" + out + "'";
    for (auto _ : state) {
        double t0 = now();
        if (std::system(command.c_str()) != 0) state.SkipWithError("sqlite3 or iconv failed");
        double t = now() - t0;
        pipelineSeconds = best(pipelineSeconds, t);
        state.SetIterationTime(t);
    }
    std::remove(out.c_str());
}

void Select(benchmark::State& state, Session session, double& figure)
{
    for (auto _ : state) {
        double t0 = now();
        delegate->baseModel().options().setActiveSession(session);
        delegate->mainViewController()->viewDidLoad();
        double t = now() - t0;
        figure = best(figure, t);
        state.SetIterationTime(t);
    }
}
void SelectMillion(benchmark::State& state)
{
    Select(state, big, selectBig);
}
void SelectEmpty(benchmark::State& state)
{
    Select(state, empty, selectEmpty);
}

} // namespace

BENCHMARK(SqliteCommandPipeline)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);
BENCHMARK(ExportMillion)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(SelectEmpty)->UseManualTime()->Iterations(50)->Unit(benchmark::kMicrosecond);
BENCHMARK(SelectMillion)->UseManualTime()->Iterations(50)->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QTemporaryDir home;
    setenv("HOME", home.path().toLocal8Bit().constData(), 1);
    setenv("XDG_DATA_HOME", (home.path() + "/data").toLocal8Bit().constData(), 1);
    QApplication app(argc, argv);
    Program dProgram;
    QuivraAppDelegate& d = dProgram.delegate;
    delegate = &d;
    d.applicationDidFinishLaunchingWithOptions();

    BaseModel root = d.baseModel();
    big = root.options().activeSession();
    store::ObjectContext* context = d.managedObjectContext();
    for (int i = 0; i < 1000000; ++i)
        context->insertSample(1700000000000000 + i * 10000LL, float(i % 97) / 7.0f, -0.015625f,
                              -1.0f + float(i % 13) * 1e-3f, big.objectId());
    empty = Session::init(*context);
    empty.setBaseModel(root);
    d.saveNow(); // the export reads what is saved

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::printf("\nsession figures (best of the runs above)\n");
    std::printf("  export 1M samples: %8.1f ms  vs sqlite3 | iconv %8.1f ms  ratio %.2f (goal <= 0.40)\n",
                exportSeconds * 1e3, pipelineSeconds * 1e3, exportSeconds / pipelineSeconds);
    std::printf("  export peak memory growth: %.1f MiB (goal < 64)\n", double(exportPeakKiB) / 1024.0);
    std::printf("  select a session of 1M: %6.2f ms  vs an empty one %6.2f ms (goal < 10 ms)\n", selectBig * 1e3,
                selectEmpty * 1e3);
    return 0;
}
