// SPDX-License-Identifier: GPL-3.0-or-later
// Capture off the window's thread, each figure beside a baseline from the same run:
//  - one reading through the recorder (tare, stored sample, view row; goal: under 1 us median)
//    beside the bare store insert it makes;
//  - sustained capture to the store at 10,000 readings a second from a synthetic source for 20 s
//    (QUIVRA_BENCH_SECONDS to change): no reading lost, and CPU time per reading for capture, queue,
//    recorder and saves, beside a bare push and pop through the queue;
//  - time-stamp jitter at 200 a second (standard deviation of the intervals; goal: under 0.5 ms)
//    with the window's thread busy half of the time, beside the same with it idle.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

#include "recording/BaseModel.h"
#include "recording/Options.h"
#include "recording/Recorder.h"
#include "recording/Session.h"
#include "platform/sensors/Accelerometer.h"
#include "platform/sensors/ReadingQueue.h"
#include "platform/store/ObjectContext.h"
#include "bench/Measure.h"

namespace {

using bench::cpuSeconds;
using bench::runFor;

// A sensor that answers at once with a slowly changing reading.
class Synthetic : public sensors::AccelerometerSource {
public:
    bool read(sensors::Acceleration& out, std::string&) override
    {
        ++n_;
        out = {0.001 * double(n_ % 1000), -0.5, -1.0};
        return true;
    }
    std::string description() const override { return "synthetic"; }
    // Paced by the capture thread's timer, at rates beyond what the window offers.
    std::vector<double> availableRates() const override { return {200, 10000}; }

private:
    long n_ = 0;
};

struct Store {
    QTemporaryDir dir;
    store::ObjectContext context;
    BaseModel root;
    Store()
    {
        store::StoreError error;
        if (!context.open((dir.path() + "/Quivra.sqlite").toStdString(), error)) std::abort();
        root = BaseModel::init(context);
        context.save(error);
    }
};

void RecorderHandle(benchmark::State& state)
{
    Store s;
    sensors::Accelerometer accelerometer;
    accelerometer.setSource(std::make_unique<Synthetic>());
    Recorder recorder(s.root, accelerometer);
    s.root.options().setFramerate(200);
    recorder.start(); // its own readings wait in the queue: no event loop runs here
    sensors::Acceleration reading{0.25, -0.5, -1.0, platform::Clock::now()};
    for (auto _ : state) {
        reading.timestamp += 5000;
        benchmark::DoNotOptimize(recorder.handle(reading));
    }
}

void BareInsert(benchmark::State& state)
{
    Store s;
    const store::ObjectId session = s.root.options().activeSession().objectId();
    platform::Micros t = 1700000000000000;
    for (auto _ : state) benchmark::DoNotOptimize(s.context.insertSample(t += 5000, 0.25f, -0.5f, -1.0f, session));
}

void QueuePushPop(benchmark::State& state)
{
    sensors::ReadingQueue queue(1024);
    sensors::CapturedReading item, out;
    for (auto _ : state) {
        queue.push(item);
        queue.pop(out);
        benchmark::DoNotOptimize(out);
    }
}

// Records from the synthetic sensor at `rate` for `seconds`, saving every second as the program
// does. `busyWindow`: the window's thread is busy 10 ms of every 20. Returns the stamps stored.
std::uint64_t overflowed = 0; // lost in the queue, over every run

std::vector<platform::Micros> record(double rate, double seconds, bool busyWindow, double* cpuPerReading)
{
    Store s;
    sensors::Accelerometer accelerometer;
    accelerometer.setSource(std::make_unique<Synthetic>());
    Recorder recorder(s.root, accelerometer);
    s.root.options().setFramerate(int(rate));
    QTimer saver;
    QObject::connect(&saver, &QTimer::timeout, [&] {
        store::StoreError error;
        if (s.context.isSaving()) s.context.finishSave(error);
        s.context.beginSave(nullptr);
    });
    saver.start(1000);
    QTimer busy;
    QObject::connect(&busy, &QTimer::timeout, [] {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(10);
        while (std::chrono::steady_clock::now() < until) {}
    });
    if (busyWindow) busy.start(20);
    const double cpu0 = cpuSeconds();
    recorder.start();
    runFor(seconds);
    recorder.stop();
    const double cpu = cpuSeconds() - cpu0;
    overflowed += accelerometer.overflowedReadings();
    store::StoreError error;
    s.context.save(error);
    std::vector<platform::Micros> stamps;
    s.root.options().activeSession().gData().forEach([&](const store::SampleValues& v) {
        stamps.push_back(v.dateStamp);
        return true;
    });
    if (cpuPerReading) *cpuPerReading = stamps.empty() ? 0 : cpu / double(stamps.size());
    return stamps;
}

double jitterMs(const std::vector<platform::Micros>& stamps)
{
    if (stamps.size() < 3) return 0;
    double mean = 0, square = 0;
    const std::size_t n = stamps.size() - 1;
    for (std::size_t i = 1; i < stamps.size(); ++i) mean += double(stamps[i] - stamps[i - 1]);
    mean /= double(n);
    for (std::size_t i = 1; i < stamps.size(); ++i) square += std::pow(double(stamps[i] - stamps[i - 1]) - mean, 2);
    return std::sqrt(square / double(n)) / 1000.0;
}

// The 99th percentile and the largest of how far intervals stray from the interval asked for, ms.
std::pair<double, double> strays(const std::vector<platform::Micros>& stamps, double interval)
{
    std::vector<double> off;
    for (std::size_t i = 1; i < stamps.size(); ++i)
        off.push_back(std::abs(double(stamps[i] - stamps[i - 1]) - interval) / 1000.0);
    if (off.empty()) return {0, 0};
    std::sort(off.begin(), off.end());
    return {off[off.size() * 99 / 100], off.back()};
}

std::size_t gaps(const std::vector<platform::Micros>& stamps, double interval)
{
    std::size_t out = 0;
    for (std::size_t i = 1; i < stamps.size(); ++i) out += double(stamps[i] - stamps[i - 1]) > 1.5 * interval;
    return out;
}

} // namespace

BENCHMARK(QueuePushPop);
BENCHMARK(BareInsert);
BENCHMARK(RecorderHandle);

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    const char* asked = std::getenv("QUIVRA_BENCH_SECONDS");
    const double seconds = asked ? std::atof(asked) : 20.0;
    double cpuPerReading = 0;
    QElapsedTimer clock;
    clock.start();
    const auto fast = record(10000, seconds, false, &cpuPerReading);
    const double elapsed = double(clock.elapsed()) / 1000.0;
    const auto calm = record(200, 10, false, nullptr);
    const auto busy = record(200, 10, true, nullptr);

    // The bare queue, timed by hand for the same figure.
    sensors::ReadingQueue queue(1 << 16);
    sensors::CapturedReading item, out;
    const double q0 = cpuSeconds();
    for (int i = 0; i < 10000000; ++i) {
        queue.push(item);
        queue.pop(out);
    }
    const double queueCpu = (cpuSeconds() - q0) / 1e7;
    std::printf("\ncapture figures\n");
    std::printf("  10,000 a second for %.0f s: %zu readings stored (%.0f a second), %zu gaps, %llu lost in the queue\n",
                seconds, fast.size(), double(fast.size()) / elapsed, gaps(fast, 100.0), (unsigned long long)overflowed);
    std::printf("  CPU per reading (capture, queue, recorder, saves): %.2f us  vs a bare queue push and pop %.3f us\n",
                cpuPerReading * 1e6, queueCpu * 1e6);
    std::printf(
        "  jitter at 200 a second, window busy half the time: %.3f ms  vs window idle %.3f ms (goal < 0.5 ms)\n",
        jitterMs(busy), jitterMs(calm));
    const auto [busy99, busyMax] = strays(busy, 5000.0);
    const auto [calm99, calmMax] = strays(calm, 5000.0);
    std::printf("    99 %% of intervals within %.3f ms of 5 ms (idle %.3f), the worst %.1f ms off (idle %.1f)\n",
                busy99, calm99, busyMax, calmMax);
    return 0;
}
