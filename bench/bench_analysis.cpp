// SPDX-License-Identifier: GPL-3.0-or-later
// The analysis library's two loads, each beside a baseline measured in the same run:
// - one live frame: three axes at N = 16,384, three Welch blocks each (LiveAnalyser::result),
//   beside three bare fftwf_execute calls of that size;
// - a stream of 1,000,000 samples at N = 4096 (StreamAnalyser), beside the bare fftwf_execute
//   calls it makes, with the peak memory it adds.
#include <benchmark/benchmark.h>

#include <fftw3.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "analysis/LiveAnalyser.h"
#include "analysis/StreamAnalyser.h"

namespace {

using analysis::Sample;

constexpr int kLiveSize = 16384;
constexpr int kStreamSize = 4096;
constexpr int kStreamSamples = 1'000'000;
constexpr double kRate = 1000.0;

// A machine hum with harmonics and noise on gravity, 1 ms apart.
std::vector<Sample> makeSamples(int count)
{
    std::mt19937 random(3);
    std::normal_distribution<float> noise(0.0f, 0.02f);
    std::vector<Sample> out(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        const double t = i / kRate;
        const double hum =
            0.3 * std::sin(2 * std::numbers::pi * 49.7 * t) + 0.05 * std::sin(2 * std::numbers::pi * 149.1 * t);
        out[static_cast<std::size_t>(i)] = {1'700'000'000'000'000 + i * 1000, static_cast<float>(hum) + noise(random),
                                            static_cast<float>(0.5 * hum) + noise(random), -1.0f + noise(random)};
    }
    return out;
}

const std::vector<Sample>& samples()
{
    static const std::vector<Sample> s = makeSamples(kStreamSamples);
    return s;
}

long peakResidentKb()
{
    std::ifstream status("/proc/self/status");
    std::string key;
    long value = -1;
    while (status >> key) {
        if (key == "VmHWM:") {
            status >> value;
            break;
        }
        status.ignore(1 << 12, '\n');
    }
    return value;
}

long streamPeakBefore = -1, streamPeakAfter = -1;

// n FFTs of one size through a plan made the plain way, on fftwf_malloc buffers.
void bareFftw(benchmark::State& state, int size, int count)
{
    float* in = fftwf_alloc_real(static_cast<std::size_t>(size));
    fftwf_complex* out = fftwf_alloc_complex(static_cast<std::size_t>(size / 2 + 1));
    fftwf_plan plan = fftwf_plan_dft_r2c_1d(size, in, out, FFTW_ESTIMATE);
    for (int i = 0; i < size; ++i) in[i] = samples()[static_cast<std::size_t>(i)].x;
    for (auto _ : state)
        for (int i = 0; i < count; ++i) {
            fftwf_execute(plan);
            benchmark::DoNotOptimize(out[1][0]);
        }
    fftwf_destroy_plan(plan);
    fftwf_free(in);
    fftwf_free(out);
}

constexpr int streamBlocks()
{
    return (kStreamSamples - kStreamSize) / (kStreamSize / 2) + 1;
}

void streamBaseline(benchmark::State& state)
{
    bareFftw(state, kStreamSize, 3 * streamBlocks());
}

void streamAnalyser(benchmark::State& state)
{
    analysis::Settings settings;
    settings.fftSize = kStreamSize;
    streamPeakBefore = peakResidentKb();
    for (auto _ : state) {
        analysis::StreamAnalyser analyser(settings, kRate);
        analyser.add(samples());
        const analysis::Result r = analyser.result();
        if (r.blocksUsed != streamBlocks()) state.SkipWithError("unexpected block count");
        benchmark::DoNotOptimize(r.axes[0].velocityRms);
    }
    streamPeakAfter = peakResidentKb();
}

void liveBaseline(benchmark::State& state)
{
    bareFftw(state, kLiveSize, 3);
}

void liveFrame(benchmark::State& state)
{
    analysis::Settings settings;
    settings.fftSize = kLiveSize;
    analysis::LiveAnalyser live(settings, kRate, 3);
    const auto& s = samples();
    live.add(std::span(s).first(static_cast<std::size_t>(live.capacity())));
    std::size_t next = static_cast<std::size_t>(live.capacity());
    for (auto _ : state) {
        live.add(s[next++ % s.size()]); // something new, so the frame is analysed again
        const analysis::Result& r = live.result();
        benchmark::DoNotOptimize(r.axes[0].peaks.data());
    }
}

BENCHMARK(streamBaseline)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(streamAnalyser)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(liveBaseline)->Unit(benchmark::kMillisecond)->MinTime(0.5)->UseRealTime();
BENCHMARK(liveFrame)->Unit(benchmark::kMillisecond)->MinTime(0.5)->UseRealTime();

// Collects seconds per iteration, so that the summary can set each figure beside its baseline.
class Summary : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> seconds;

    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration && !run.error_occurred && run.iterations > 0)
                seconds[run.run_name.function_name] = run.real_accumulated_time / static_cast<double>(run.iterations);
    }
};

} // namespace

int main(int argc, char** argv)
{
    samples(); // made before any timing
    analysis::RealFft::prepare(kStreamSize);
    analysis::RealFft::prepare(kLiveSize);
    benchmark::Initialize(&argc, argv);
    Summary summary;
    benchmark::RunSpecifiedBenchmarks(&summary);
    benchmark::Shutdown();

    auto ms = [&](const char* name) {
        const auto found = summary.seconds.find(name);
        return found == summary.seconds.end() ? -1.0 : found->second * 1e3;
    };
    if (ms("liveBaseline") > 0 && ms("liveFrame") > 0) {
        std::printf("\none live frame, three axes, N = %d, three Welch blocks each"
                    " (goal < 5 ms):\n",
                    kLiveSize);
        std::printf("  3 x fftwf_execute (baseline)        %8.3f ms\n", ms("liveBaseline"));
        std::printf("  LiveAnalyser::result, 9 FFTs        %8.3f ms  (%.1f x the baseline)\n", ms("liveFrame"),
                    ms("liveFrame") / ms("liveBaseline"));
    }
    if (ms("streamBaseline") > 0 && ms("streamAnalyser") > 0) {
        std::printf("\n%d samples, three axes, N = %d (goal well under 1 s):\n", kStreamSamples, kStreamSize);
        std::printf("  %d x fftwf_execute (baseline)    %8.1f ms\n", 3 * streamBlocks(), ms("streamBaseline"));
        std::printf("  StreamAnalyser add + result         %8.1f ms  (%.1f x the baseline)\n", ms("streamAnalyser"),
                    ms("streamAnalyser") / ms("streamBaseline"));
        // By design: three block buffers, the transform's buffers, window and power, and three
        // averages; nothing grows with the stream.
        const double n = kStreamSize;
        const double designKb =
            (3 * n * 4 + n * 4 + (n / 2 + 1) * 8 + n * 4 + (n / 2 + 1) * 8 + 3 * (n / 2 + 1) * 8) / 1024.0;
        std::printf("  peak memory added: %ld KB measured (VmHWM), %.0f KB by design\n",
                    streamPeakAfter - streamPeakBefore, designKb);
    }
    return 0;
}
