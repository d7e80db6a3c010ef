// SPDX-License-Identifier: GPL-3.0-or-later
// One reading through the main screen (tare, stored sample, view row, trim), beside a baseline
// that only appends the view row and trims. Goal: median under 2 us.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

#include "tests/support/Program.h"
#include "tests/support/QuietSource.h"
#include "ui/MainViewController.h"
#include "ui/QuivraAppDelegate.h"
#include "ui/TraceGeometry.h"
#include "platform/sensors/Accelerometer.h"

namespace {

QuivraAppDelegate* delegate = nullptr;

void ReadingThroughTheScreen(benchmark::State& state)
{
    MainViewController* controller = delegate->mainViewController();
    sensors::Accelerometer* shared = &delegate->accelerometer();
    if (!controller->recorder()->isRecording()) controller->startStopButtonPressed();
    double v = 0.0;
    for (auto _ : state) {
        controller->recorder()->accelerometerDidAccelerate(shared, {v, -v, -1.0});
        v += 1e-6;
    }
    // Saving is not part of a reading; keep the pending list from growing without bound.
    delegate->saveNow();
}

void AppendRowOnly(benchmark::State& state)
{
    auto buffer = std::make_shared<ViewBuffer>();
    float v = 0.0f;
    for (auto _ : state) {
        buffer->push_back(ViewRow{v, -v, -1.0f});
        if (trace::trimsOldestRow(buffer->size(), 1024.0f)) buffer->pop_front();
        benchmark::DoNotOptimize(buffer->back());
        v += 1e-6f;
    }
}

} // namespace

BENCHMARK(AppendRowOnly)->Repetitions(5)->ReportAggregatesOnly(true)->Unit(benchmark::kNanosecond);
BENCHMARK(ReadingThroughTheScreen)->Repetitions(5)->ReportAggregatesOnly(true)->Unit(benchmark::kNanosecond);

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QTemporaryDir home;
    setenv("XDG_DATA_HOME", home.path().toLocal8Bit().constData(), 1);
    QApplication app(argc, argv);
    Program dProgram;
    QuivraAppDelegate& d = dProgram.delegate;
    delegate = &d;
    d.accelerometer().setSource(std::make_unique<QuietSource>());
    d.applicationDidFinishLaunchingWithOptions();
    benchmark::Initialize(&argc, argv);
    std::printf("One reading: compare the median of ReadingThroughTheScreen (goal < 2000 ns) with "
                "AppendRowOnly, measured in the same run.\n");
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
