// SPDX-License-Identifier: GPL-3.0-or-later
// Store figures, each beside a baseline measured in the same run:
//  - saving 1,000,000 new samples vs a plain SQLite loop into the same schema;
//  - start-up to the root with 2,000,000 stored samples vs an empty store;
//  - a session's sample count and its newest 180 samples at 1,000,000 samples;
//  - memory of 1,000,000 unsaved samples.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sqlite3.h>

#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <map>
#include <memory>

#include "platform/store/ObjectContext.h"
#include "bench/Measure.h"

using namespace store;

namespace {

using bench::now;

constexpr int millionSamples = 1000000;
std::map<std::string, double> figures; // name -> best seconds per iteration

void note(const std::string& name, double seconds)
{
    auto it = figures.find(name);
    if (it == figures.end() || seconds < it->second) figures[name] = seconds;
}

struct Fixture {
    QTemporaryDir dir;
    std::string path() const { return (dir.path() + "/Quivra.sqlite").toStdString(); }
};

std::unique_ptr<ObjectContext> openContext(const std::string& path)
{
    auto c = std::make_unique<ObjectContext>();
    StoreError e;
    if (!c->open(path, e)) std::fprintf(stderr, "open failed: %s\n", e.describe().c_str());
    return c;
}

// A store with one session of n samples, saved.
std::string storeWith(Fixture& f, int n, ObjectId* session = nullptr)
{
    auto c = openContext(f.path());
    ObjectId s = c->insertSession(1);
    for (int i = 0; i < n; ++i) c->insertSample(1700000000000000 + i * 10000LL, float(i % 7), -1.0f, 0.5f, s);
    StoreError e;
    c->save(e);
    if (session) *session = s;
    return f.path();
}

void SaveMillionThroughContext(benchmark::State& state)
{
    for (auto _ : state) {
        Fixture f;
        auto c = openContext(f.path());
        ObjectId s = c->insertSession(1);
        for (int i = 0; i < millionSamples; ++i)
            c->insertSample(1700000000000000 + i * 10000LL, float(i % 7), -1.0f, 0.5f, s);
        double t0 = now();
        StoreError e;
        c->save(e);
        double t = now() - t0;
        state.SetIterationTime(t);
        note("save 1M samples", t);
    }
}

void SaveMillionPlainLoop(benchmark::State& state)
{
    for (auto _ : state) {
        Fixture f;
        {
            openContext(f.path());
        } // the same schema, indexes and settings
        sqlite3* db = nullptr;
        sqlite3_open(f.path().c_str(), &db);
        sqlite3_exec(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL;", nullptr, nullptr, nullptr);
        double t0 = now();
        sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(db,
                           "INSERT INTO gdata(id, session_id, date_stamp, x_value, y_value, z_value)"
                           " VALUES(?1,?2,?3,?4,?5,?6)",
                           -1, &st, nullptr);
        for (int i = 0; i < millionSamples; ++i) {
            sqlite3_bind_int64(st, 1, i + 1);
            sqlite3_bind_int64(st, 2, 1);
            sqlite3_bind_int64(st, 3, 1700000000000000 + i * 10000LL);
            sqlite3_bind_double(st, 4, double(float(i % 7)));
            sqlite3_bind_double(st, 5, -1.0);
            sqlite3_bind_double(st, 6, 0.5);
            sqlite3_step(st);
            sqlite3_reset(st);
        }
        sqlite3_finalize(st);
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
        double t = now() - t0;
        sqlite3_close(db);
        state.SetIterationTime(t);
        note("save 1M plain loop", t);
    }
}

void StartupWith(benchmark::State& state, int samples, const char* name)
{
    Fixture f;
    std::string path = storeWith(f, samples);
    for (auto _ : state) {
        double t0 = now();
        auto c = openContext(path);
        auto roots = c->fetchBaseModels();
        benchmark::DoNotOptimize(roots);
        double t = now() - t0;
        state.SetIterationTime(t);
        note(name, t);
    }
}
void StartupEmpty(benchmark::State& state)
{
    StartupWith(state, 0, "start-up, empty store");
}
void StartupTwoMillion(benchmark::State& state)
{
    StartupWith(state, 2 * millionSamples, "start-up, 2M samples");
}

void CountAndNewest(benchmark::State& state)
{
    Fixture f;
    ObjectId s = 0;
    std::string path = storeWith(f, millionSamples, &s);
    auto c = openContext(path);
    // A few unsaved samples on top, as while recording.
    for (int i = 0; i < 50; ++i) c->insertSample(1800000000000000 + i, 0, 0, 0, s);
    for (auto _ : state) {
        double t0 = now();
        benchmark::DoNotOptimize(c->sampleCount(s));
        double t1 = now();
        auto rows = c->newestSamples(s, 180);
        benchmark::DoNotOptimize(rows);
        double t2 = now();
        note("sample count of 1M", t1 - t0);
        note("newest 180 of 1M", t2 - t1);
        state.SetIterationTime(t2 - t0);
    }
}

void UnsavedMemory(benchmark::State& state)
{
    for (auto _ : state) {
        Fixture f;
        auto c = openContext(f.path());
        ObjectId s = c->insertSession(1);
        malloc_trim(0);
        std::size_t before = mallinfo2().uordblks;
        for (int i = 0; i < millionSamples; ++i) c->insertSample(1700000000000000 + i * 10000LL, 0.1f, 0.2f, 0.3f, s);
        std::size_t after = mallinfo2().uordblks;
        state.SetIterationTime(1e-9);
        state.counters["bytes/sample"] = double(after - before) / millionSamples;
        figures["unsaved bytes per sample"] = double(after - before) / millionSamples;
    }
}

} // namespace

BENCHMARK(SaveMillionPlainLoop)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(SaveMillionThroughContext)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(StartupEmpty)->UseManualTime()->Iterations(20)->Unit(benchmark::kMillisecond);
BENCHMARK(StartupTwoMillion)->UseManualTime()->Iterations(20)->Unit(benchmark::kMillisecond);
BENCHMARK(CountAndNewest)->UseManualTime()->Iterations(50)->Unit(benchmark::kMicrosecond);
BENCHMARK(UnsavedMemory)->UseManualTime()->Iterations(1);

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    auto ms = [](const std::string& k) { return figures[k] * 1000.0; };
    std::printf("\nstore figures (best of the runs above)\n");
    std::printf("  save 1M samples:      %8.1f ms  vs plain SQLite loop %8.1f ms  ratio %.2f (goal <= 1.30)\n",
                ms("save 1M samples"), ms("save 1M plain loop"),
                figures["save 1M samples"] / figures["save 1M plain loop"]);
    std::printf("  start-up, 2M samples: %8.2f ms  vs empty store       %8.2f ms  ratio %.2f (goal <= 1.50, < 50 ms)\n",
                ms("start-up, 2M samples"), ms("start-up, empty store"),
                figures["start-up, 2M samples"] / figures["start-up, empty store"]);
    std::printf("  count of 1M:          %8.4f ms  (goal < 1 ms)\n", ms("sample count of 1M"));
    std::printf("  newest 180 of 1M:     %8.4f ms  (goal < 1 ms)\n", ms("newest 180 of 1M"));
    std::printf("  unsaved sample:       %8.1f bytes (goal <= 40; the record itself is %zu)\n",
                figures["unsaved bytes per sample"], sizeof(SampleRecord));
    return 0;
}
