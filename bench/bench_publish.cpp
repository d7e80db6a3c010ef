// SPDX-License-Identifier: GPL-3.0-or-later
// Raw readings published as the recorder sends them: 1,000 a second, one batch of 100 every
// 100 ms, QoS 0, to a mosquitto broker on a loopback port. The figure is the CPU time of the whole
// process per reading (the publisher's network thread included; the broker's not), beside a
// baseline measured in the same run: the same readings at the same pace, only made into JSON.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/Clock.h"
#include "platform/publish/Payloads.h"
#include "platform/publish/Publisher.h"
#include "tests/publish/MosquittoBroker.h"

namespace {

using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

constexpr int kReadingsPerBatch = 100;
constexpr auto kBatchPeriod = 100ms;
constexpr int kBatches = 50; // 5 seconds of recording

MosquittoBroker* broker = nullptr;

// Exact, unlike getrusage(), whose figures may move in whole clock ticks.
double processCpuMicros()
{
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e6 + double(t.tv_nsec) / 1e3;
}

void recordRaw(benchmark::State& state, bool publishing)
{
    std::unique_ptr<publish::Publisher> publisher;
    if (publishing) {
        std::string error;
        publish::PublisherOptions options;
        options.broker = *publish::parseBrokerUrl(broker->url("bench/line/pump"), error);
        publisher = std::make_unique<publish::Publisher>(options);
        const auto giveUp = SteadyClock::now() + 10s;
        while (!publisher->stats().connected && SteadyClock::now() < giveUp) std::this_thread::sleep_for(10ms);
        if (!publisher->stats().connected) {
            state.SkipWithError("no connection to the broker");
            return;
        }
    }
    std::mt19937 random(5);
    std::normal_distribution<float> g(0, 0.02f);
    std::vector<publish::Reading> batch(kReadingsPerBatch);
    platform::Micros time = platform::Clock::systemNow();
    SteadyClock::duration longestCall{}, allCalls{};
    long readings = 0;

    const double cpuStart = processCpuMicros();
    auto tick = SteadyClock::now();
    for (auto _ : state) {
        for (auto& reading : batch) {
            reading = {time, g(random), g(random), g(random) - 1};
            time += 1000;
        }
        std::string json = publish::rawBatchJson(1, batch);
        if (publishing) {
            const auto start = SteadyClock::now();
            publisher->publish(publish::kRawTopic, std::move(json), 0);
            const auto took = SteadyClock::now() - start;
            longestCall = std::max(longestCall, took);
            allCalls += took;
        }
        benchmark::DoNotOptimize(json);
        readings += kReadingsPerBatch;
        tick += kBatchPeriod;
        std::this_thread::sleep_until(tick);
    }
    if (publishing) {
        // The last batch's sending belongs to the run.
        const auto giveUp = SteadyClock::now() + 5s;
        while (publisher->stats().waiting > 0 && SteadyClock::now() < giveUp) std::this_thread::sleep_for(1ms);
    }
    const double cpu = processCpuMicros() - cpuStart;

    state.counters["cpu_us/reading"] = cpu / double(readings);
    if (publishing) {
        auto stats = publisher->stats();
        state.counters["sent"] = double(stats.sent);
        state.counters["dropped"] = double(stats.dropped);
        using Micros = std::chrono::duration<double, std::micro>;
        state.counters["mean_publish_us"] = Micros(allCalls).count() / double(state.iterations());
        state.counters["longest_publish_us"] = Micros(longestCall).count();
    }
}

void formatOnly(benchmark::State& state)
{
    recordRaw(state, false);
}
void formatAndPublish(benchmark::State& state)
{
    recordRaw(state, true);
}

BENCHMARK(formatOnly)->Iterations(kBatches)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(formatAndPublish)->Iterations(kBatches)->Unit(benchmark::kMillisecond)->UseRealTime();

// Collects each figure so that the summary can set it beside its baseline.
class Summary : public benchmark::ConsoleReporter {
public:
    std::map<std::string, std::map<std::string, double>> figures;

    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration && !run.error_occurred)
                for (const auto& [name, counter] : run.counters)
                    figures[run.run_name.function_name][name] = counter.value;
    }
};

} // namespace

int main(int argc, char** argv)
{
    if (!MosquittoBroker::installed()) {
        std::printf("bench_publish: %s is not installed; skipped\n", MosquittoBroker::kProgram);
        return 0;
    }
    MosquittoBroker local;
    if (!local.running()) {
        std::printf("bench_publish: the broker did not start; skipped\n%s", local.log().c_str());
        return 0;
    }
    broker = &local;

    benchmark::Initialize(&argc, argv);
    Summary summary;
    benchmark::RunSpecifiedBenchmarks(&summary);
    benchmark::Shutdown();

    auto figure = [&](const char* run, const char* name) {
        auto found = summary.figures.find(run);
        if (found == summary.figures.end() || !found->second.count(name)) return -1.0;
        return found->second.at(name);
    };
    const double baseline = figure("formatOnly", "cpu_us/reading");
    const double ours = figure("formatAndPublish", "cpu_us/reading");
    if (baseline > 0 && ours > 0) {
        std::printf("\n%d raw readings at 1,000/s in batches of %d, CPU time of the process per reading:\n",
                    kBatches * kReadingsPerBatch, kReadingsPerBatch);
        std::printf("  made into JSON only (baseline)   %7.3f us\n", baseline);
        std::printf("  JSON published to mosquitto      %7.3f us  (+%.3f us for publishing)\n", ours, ours - baseline);
        std::printf("  %.0f of %d batches sent; publish() took %.1f us on average, %.0f us at most\n",
                    figure("formatAndPublish", "sent"), kBatches, figure("formatAndPublish", "mean_publish_us"),
                    figure("formatAndPublish", "longest_publish_us"));
    }
    return 0;
}
