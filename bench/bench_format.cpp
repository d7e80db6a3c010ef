// SPDX-License-Identifier: GPL-3.0-or-later
// Writing an export of 1,000,000 samples (10 ms apart, random readings) through AscFile, beside a
// baseline measured in the same run: the same lines made with strftime and snprintf("%.7g"),
// widened to UTF-16LE and written, synced and renamed the same way.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "platform/AscFile.h"
#include "platform/DateFormatter.h"
#include "platform/NumberText.h"

namespace {

using platform::Micros;

constexpr int kLines = 1'000'000;
constexpr Micros kStart = 1'299'330'429'250'000; // 2011-03-05 13:07:09.250 UTC
constexpr Micros kStep = 10'000;

struct Samples {
    std::vector<float> values; // x, y, z of each line
    Samples() : values(3 * kLines)
    {
        std::mt19937 random(7);
        std::normal_distribution<float> g(0.0f, 0.6f);
        for (float& v : values) v = g(random);
    }
};

const Samples& samples()
{
    static const Samples s;
    return s;
}

struct Folder {
    std::string path;
    Folder()
    {
        std::string templ = std::filesystem::temp_directory_path() / "quivra-bench-XXXXXX";
        if (mkdtemp(templ.data())) path = templ;
    }
    ~Folder() { std::filesystem::remove_all(path); }
};

void exportThroughAscFile(benchmark::State& state)
{
    const auto& v = samples().values;
    Folder folder;
    for (auto _ : state) {
        platform::AscFile file(folder.path, kStart);
        if (!file.open()) {
            state.SkipWithError(file.error().c_str());
            return;
        }
        for (int i = 0; i < kLines; ++i) file.addSample(kStart + i * kStep, v[3 * i], v[3 * i + 1], v[3 * i + 2]);
        if (!file.commit()) {
            state.SkipWithError(file.error().c_str());
            return;
        }
    }
    state.counters["lines/s"] =
        benchmark::Counter(double(kLines) * double(state.iterations()), benchmark::Counter::kIsRate);
}

void exportThroughPrintf(benchmark::State& state)
{
    const auto& v = samples().values;
    Folder folder;
    const std::string target = folder.path + "/" + platform::ascFileName(kStart);
    const std::string temp = folder.path + "/.baseline";
    std::vector<char> wide(256 * 1024);
    for (auto _ : state) {
        std::FILE* f = std::fopen(temp.c_str(), "wb");
        if (!f) {
            state.SkipWithError("cannot create the baseline file");
            return;
        }
        wide[0] = static_cast<char>(0xFF);
        wide[1] = static_cast<char>(0xFE);
        std::size_t used = 2;
        auto put = [&](const char* text, std::size_t n) {
            if (wide.size() - used < 2 * n) {
                std::fwrite(wide.data(), 1, used, f);
                used = 0;
            }
            for (std::size_t k = 0; k < n; ++k) {
                wide[used++] = text[k];
                wide[used++] = 0;
            }
        };
        static const char header[] = "Date Code\tG-Force X [g]\tG-Force Y [g]\tG-Force Z [g]\n";
        put(header, sizeof header - 1);
        for (int i = 0; i < kLines; ++i) {
            Micros t = kStart + i * kStep;
            std::time_t seconds = static_cast<std::time_t>(t / 1'000'000);
            std::tm local{};
            localtime_r(&seconds, &local);
            char date[40];
            std::size_t n = std::strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S", &local);
            std::snprintf(date + n, sizeof date - n, ".%03d", int(t % 1'000'000 / 1000));
            char line[128];
            int length = std::snprintf(line, sizeof line, "%s\t%.7g\t%.7g\t%.7g\n", date, double(v[3 * i]),
                                       double(v[3 * i + 1]), double(v[3 * i + 2]));
            put(line, static_cast<std::size_t>(length));
        }
        std::fwrite(wide.data(), 1, used, f);
        std::fflush(f);
        ::fsync(fileno(f));
        std::fclose(f);
        std::rename(temp.c_str(), target.c_str());
    }
    state.counters["lines/s"] =
        benchmark::Counter(double(kLines) * double(state.iterations()), benchmark::Counter::kIsRate);
}

BENCHMARK(exportThroughPrintf)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(exportThroughAscFile)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// Collects each figure so that the summary can set it beside its baseline.
class Summary : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> linesPerSecond;

    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            auto found = run.counters.find("lines/s");
            if (run.run_type == Run::RT_Iteration && !run.error_occurred && found != run.counters.end())
                linesPerSecond[run.run_name.function_name] = found->second.value;
        }
    }
};

} // namespace

int main(int argc, char** argv)
{
    samples(); // made before any timing
    benchmark::Initialize(&argc, argv);
    Summary summary;
    benchmark::RunSpecifiedBenchmarks(&summary);
    benchmark::Shutdown();

    const auto& r = summary.linesPerSecond;
    auto figure = [&](const char* name) {
        const auto found = r.find(name);
        return found == r.end() ? -1.0 : found->second;
    };
    const double baseline = figure("exportThroughPrintf");
    const double ours = figure("exportThroughAscFile");
    if (baseline > 0 && ours > 0) {
        std::printf("\nexport of %d lines, UTF-16LE, synced and renamed:\n", kLines);
        std::printf("  strftime + snprintf (baseline)  %12.0f lines/s\n", baseline);
        std::printf("  AscFile                         %12.0f lines/s  (%.1f x the baseline)\n", ours, ours / baseline);
    }
    return 0;
}
