// SPDX-License-Identifier: GPL-3.0-or-later
// One full redraw of the trace view: a full buffer for a 1024-wide view (181 rows) and the grid,
// into a 1024 x 600 offscreen image, for hard shaking (steep traces, the costliest to stroke) and
// for a device at rest. Beside them, in the same run, the baselines they build on: filling the
// image white, and the grid over an empty buffer.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>

#include "ui/GMeter.h"
#include "ui/TraceGeometry.h"

namespace {

constexpr int kWidth = 1024;
constexpr int kHeight = 600;

constexpr float kShaking = 0.6f; // standard deviation of the readings, in g
constexpr float kAtRest = 0.02f;

SharedViewBuffer fullBuffer(float spread)
{
    std::mt19937 random(7);
    std::normal_distribution<float> g(0.0f, spread);
    auto rows = std::make_shared<ViewBuffer>();
    std::size_t n = 0;
    while (!trace::trimsOldestRow(n + 1, static_cast<float>(kWidth))) {
        rows->push_back(ViewRow{g(random), g(random), g(random)});
        ++n;
    }
    return rows;
}

struct Scene {
    GMeter meter;
    QImage image{kWidth, kHeight, QImage::Format_ARGB32_Premultiplied};
    std::uint64_t samples = 123'457;

    explicit Scene(SharedViewBuffer rows)
    {
        meter.resize(kWidth, kHeight);
        meter.setGData(std::move(rows), samples);
    }

    // What the view's paint event does, straight into the image.
    void redraw()
    {
        meter.setGData(meter.gData(), samples);
        QPainter painter(&image);
        painter.fillRect(image.rect(), Qt::white);
        meter.drawRect(painter);
    }
};

void fillWhite(benchmark::State& state)
{
    QImage image(kWidth, kHeight, QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        QPainter painter(&image);
        painter.fillRect(image.rect(), Qt::white);
        painter.end();
        benchmark::DoNotOptimize(image.constBits());
    }
}

void gridOnly(benchmark::State& state)
{
    Scene scene(std::make_shared<ViewBuffer>());
    for (auto _ : state) {
        scene.redraw();
        ++scene.samples; // the grid scrolls between draws, as while recording
        benchmark::DoNotOptimize(scene.image.constBits());
    }
}

void fullRedraw(benchmark::State& state)
{
    Scene scene(fullBuffer(kShaking));
    state.counters["rows"] = static_cast<double>(scene.meter.gData()->size());
    for (auto _ : state) {
        scene.redraw();
        ++scene.samples;
        benchmark::DoNotOptimize(scene.image.constBits());
    }
}

void fullRedrawAtRest(benchmark::State& state)
{
    Scene scene(fullBuffer(kAtRest));
    for (auto _ : state) {
        scene.redraw();
        ++scene.samples;
        benchmark::DoNotOptimize(scene.image.constBits());
    }
}

// The same through the widget's own paint event, as a display pass runs it.
void fullRedrawThroughPaintEvent(benchmark::State& state)
{
    Scene scene(fullBuffer(kShaking));
    for (auto _ : state) {
        scene.meter.setGData(scene.meter.gData(), scene.samples);
        scene.meter.render(&scene.image);
        ++scene.samples;
        benchmark::DoNotOptimize(scene.image.constBits());
    }
}

BENCHMARK(fillWhite)->Unit(benchmark::kMicrosecond);
BENCHMARK(gridOnly)->Unit(benchmark::kMicrosecond);
BENCHMARK(fullRedraw)->Unit(benchmark::kMicrosecond);
BENCHMARK(fullRedrawAtRest)->Unit(benchmark::kMicrosecond);
BENCHMARK(fullRedrawThroughPaintEvent)->Unit(benchmark::kMicrosecond);

// Collects each figure so that the summary can set it beside its baseline.
class Summary : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> microseconds;

    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration && !run.error_occurred)
                microseconds[run.benchmark_name()] = run.GetAdjustedRealTime();
    }
};

} // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    Summary summary;
    benchmark::RunSpecifiedBenchmarks(&summary);
    benchmark::Shutdown();

    const auto& t = summary.microseconds;
    auto figure = [&](const char* name) {
        const auto found = t.find(name);
        return found == t.end() ? -1.0 : found->second;
    };
    const double fill = figure("fillWhite");
    const double grid = figure("gridOnly");
    const double full = figure("fullRedraw");
    const double rest = figure("fullRedrawAtRest");
    const double painted = figure("fullRedrawThroughPaintEvent");
    if (fill > 0 && grid > 0 && full > 0) {
        std::printf("\nredraw of a %dx%d trace view, 181 rows, target under 2000 us:\n", kWidth, kHeight);
        std::printf("  fill white (baseline)  %8.1f us\n", fill);
        std::printf("  grid only              %8.1f us  (%.1f x the fill)\n", grid, grid / fill);
        std::printf("  full redraw, shaking   %8.1f us  (%.1f x the fill, %.1f x the grid)  %s\n", full, full / fill,
                    full / grid, full < 2000.0 ? "within target" : "OVER TARGET");
        if (rest > 0)
            std::printf("  full redraw, at rest   %8.1f us  (%.1f x the fill, %.1f x the grid)\n", rest, rest / fill,
                        rest / grid);
        if (painted > 0) std::printf("  through paint event    %8.1f us  (%.1f x the fill)\n", painted, painted / fill);
    }
    return 0;
}
