// SPDX-License-Identifier: GPL-3.0-or-later
// Review figures, each beside a baseline from the same run, reading the raw rows of the range:
//  - opening the review of a session of 12,000,000 readings to its first full frame (goal: under
//    100 ms);
//  - every zoom or pan step from the whole session down to a few readings (goal: under 16 ms a
//    frame, read and drawn);
//  - the review's memory (goal: under 64 MiB);
//  - the summaries' upkeep while recording (goal: under 0.5 µs a reading) and their share of the
//    store (goal: under 10 %).
// QUIVRA_BENCH_FULL=1 adds a session of 100,000,000 readings (several minutes and ~6 GB of disk);
// QUIVRA_BENCH_SAMPLES changes the size of the first. QUIVRA_BENCH_KEEP=<folder> keeps the stores
// made there and measures the ones already there instead of making them again.
#include <QApplication>
#include <QTemporaryDir>
#include <QKeyEvent>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "bench/Measure.h"
#include "platform/store/ObjectContext.h"
#include "platform/store/RangeReader.h"
#include "platform/store/SummaryPyramid.h"
#include "ui/ReviewView.h"

namespace {

using bench::now;
using platform::Micros;

struct Store {
    std::string path;
    store::ObjectId session = 0;
    std::int64_t readings = 0;
    double savePerReading = 0;   // s, rows and summaries
    double upkeepPerReading = 0; // s, the summaries alone
    double summaryShare = 0;
};

// A session of `n` readings at 3,200 a second: a 50 Hz sine with noise and a pause halfway.
Store makeStore(const std::string& path, std::int64_t n)
{
    Store s{path};
    store::ObjectContext c;
    store::StoreError error;
    if (!c.open(path, error)) {
        std::fprintf(stderr, "cannot open %s: %s\n", path.c_str(), error.describe().c_str());
        std::exit(1);
    }
    s.session = c.insertSession(1'796'731'200'000'000);
    std::mt19937 random(1);
    std::normal_distribution<float> noise(0.0f, 0.01f);
    double saving = 0;
    for (std::int64_t i = 0; i < n; ++i) {
        const double t = double(i) / 3200.0;
        const Micros at = 1'796'731'200'000'000 + Micros(std::llround(t * 1e6)) + (i >= n / 2 ? 20'000'000 : 0);
        c.insertSample(at, float(0.2 * std::sin(2 * M_PI * 50 * t)) + noise(random), noise(random),
                       -1.0f + noise(random), s.session);
        if ((i + 1) % 500'000 == 0 || i + 1 == n) {
            const double t0 = now();
            if (!c.save(error)) std::exit(1);
            saving += now() - t0;
        }
    }
    s.readings = n;
    s.savePerReading = saving / double(n);
    // The summaries' share of the work: made afresh on the writer's kind of connection, rolled back.
    store::Database& db = c.database();
    db.exec("BEGIN", error);
    const double t0 = now();
    store::SummaryPyramid(db).rebuild(s.session);
    const double rebuild = now() - t0;
    db.exec("ROLLBACK", error);
    // Reading the rows back in id order is most of a rebuild, and no part of the upkeep while
    // recording (that works on the save's own samples in memory): taken off.
    store::Statement rows(
        db, "SELECT id, date_stamp, x_value, y_value, z_value FROM gdata WHERE session_id = ?1 ORDER BY id");
    rows.bind(1, s.session);
    const double r0 = now();
    double sink = 0;
    while (rows.step()) sink += rows.real(2);
    const double reading = now() - r0;
    s.upkeepPerReading = std::max(rebuild - reading, 0.0) / double(n) + 0 * sink;
    // The pages each table takes, from SQLite's own account of them.
    store::Statement size(db, "SELECT (SELECT sum(pgsize) FROM dbstat WHERE name = 'summary'),"
                              " (SELECT sum(pgsize) FROM dbstat)");
    if (size.step()) s.summaryShare = size.real(0) / size.real(1);
    return s;
}

// The raw rows of a range, read as any program would: the baseline.
double rawRead(store::RangeReader& reader, store::ObjectId session, Micros from, Micros to, std::int64_t& rows)
{
    store::StoreError error;
    rows = 0;
    const double t0 = now();
    reader.sessionReader().forEachBetween(
        session, from, to, [&](const store::SampleValues&) { return ++rows, true; }, error);
    return now() - t0;
}

bool settle(ReviewView& view)
{
    const double until = now() + 120;
    while (!view.upToDate() && now() < until) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    return view.upToDate();
}

void press(ReviewView& view, Qt::Key key)
{
    QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(&view, &event);
}

// Opens the review, then steps from the whole session down to a few readings and back, panning
// at every zoom; each step read and drawn.
void measure(const Store& s)
{
    std::printf("\nsession of %lld readings\n", (long long)s.readings);
    std::ofstream("/proc/self/clear_refs") << "5";
    const long before = bench::statusKiB("VmRSS:");
    ReviewView view(s.path);
    view.resize(1280, 700);
    view.show();
    QApplication::processEvents();
    double t0 = now(), c0 = bench::cpuSeconds();
    view.showSession(s.session, false);
    if (!settle(view)) return;
    QApplication::processEvents();
    const double open = now() - t0, openCpu = bench::cpuSeconds() - c0;
    const platform::Micros openFrom = view.from(), openTo = view.to();
    double worst = 0;
    int steps = 0;
    double worstCpu = 0;
    // Keys no faster than a person gives them: the first a quarter of a second after the first
    // frame (about the quickest reaction to what one sees), the others as fast as a held key
    // repeats (25 a second).
    double pause = 0.25;
    auto step = [&](Qt::Key key) {
        for (const double until = now() + std::exchange(pause, 0.04); now() < until;)
            QApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        const double t = now(), c = bench::cpuSeconds();
        press(view, key);
        settle(view);
        // The frame painted in the window as the window paints it, if settling has not.
        QApplication::processEvents();
        ++steps;
        worstCpu = std::max(worstCpu, bench::cpuSeconds() - c);
        return now() - t;
    };
    struct Level {
        platform::Micros from, to;
        double worst;
    };
    std::vector<Level> levels;
    for (int level = 0; level < 40 && (level == 0 || view.to() - view.from() > 3 * view.shown()->extent.gap); ++level) {
        // In about the middle, then from the start (the middle is where the readings pause).
        double w = 0;
        if (level) w = step(Qt::Key_Plus), w = std::max(w, step(Qt::Key_Home));
        for (int i = 0; i < 4; ++i) w = std::max(w, step(i < 2 ? Qt::Key_Right : Qt::Key_Left));
        levels.push_back({view.from(), view.to(), w});
        worst = std::max(worst, w);
    }
    for (int i = 0; i < 30; ++i) worst = std::max(worst, step(Qt::Key_Minus));
    const double memory = double(bench::statusKiB("VmHWM:") - before) / 1024.0;
    // The baselines once every step is over, so that their reading disturbs none of them.
    store::RangeReader raw;
    store::StoreError error;
    raw.open(s.path, error);
    std::int64_t rows = 0;
    const double openRaw = rawRead(raw, s.session, openFrom, openTo, rows);
    std::printf(
        "  open to the first frame: %8.1f ms (CPU %.1f ms)  vs reading its %lld rows %9.1f ms (goal < 100 ms)\n",
        open * 1e3, openCpu * 1e3, (long long)rows, openRaw * 1e3);
    std::printf("  %14s %12s %14s %16s\n", "span", "readings", "worst step ms", "raw rows ms");
    double worstRaw = 0;
    for (const Level& l : levels) {
        const double r = rawRead(raw, s.session, l.from, l.to, rows);
        std::printf("  %11.6f s %12lld %14.2f %16.2f\n", double(l.to - l.from) / 1e6, (long long)rows, l.worst * 1e3,
                    r * 1e3);
        worstRaw = std::max(worstRaw, r);
    }
    std::printf("  %d zoom and pan steps: worst %.2f ms a frame (CPU %.2f ms) vs reading the raw rows of a range up to"
                " %.1f ms (goal < 16 ms)\n",
                steps, worst * 1e3, worstCpu * 1e3, worstRaw * 1e3);
    std::printf("  review's peak memory growth: %.1f MiB (goal < 64)\n", memory);
}

} // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    QTemporaryDir temporary(QDir::tempPath() + "/quivra-bench-review-XXXXXX");
    const char* keep = std::getenv("QUIVRA_BENCH_KEEP");
    const QString dir = keep ? QString::fromLocal8Bit(keep) : temporary.path();
    if (keep) QDir().mkpath(dir);
    std::vector<std::int64_t> sizes{12'000'000};
    if (const char* asked = std::getenv("QUIVRA_BENCH_SAMPLES")) sizes[0] = std::max(std::atoll(asked), 100000LL);
    if (std::getenv("QUIVRA_BENCH_FULL")) sizes.push_back(100'000'000);
    for (std::size_t k = 0; k < sizes.size(); ++k) {
        const QString path = dir + "/Quivra" + QString::number(sizes[k]) + ".sqlite";
        if (keep && QFile::exists(path)) {
            // Made by an earlier run; its one session is that of its first reading.
            Store kept{path.toStdString(), 0, sizes[k]};
            {
                store::ObjectContext c;
                store::StoreError error;
                if (!c.open(kept.path, error)) return std::fprintf(stderr, "cannot open %s\n", qPrintable(path)), 1;
                store::Statement first(c.database(), "SELECT session_id FROM gdata ORDER BY id LIMIT 1");
                if (!first.step()) return std::fprintf(stderr, "%s holds no readings\n", qPrintable(path)), 1;
                kept.session = first.int64(0);
            }
            std::printf("\nkept store %s\n", qPrintable(path));
            measure(kept);
            continue;
        }
        const double t0 = now();
        // Made under another name, so that a run cut short leaves nothing to be taken as whole.
        Store s = makeStore((path + ".making").toStdString(), sizes[k]);
        QFile::rename(path + ".making", path);
        for (const char* left : {"-wal", "-shm", ".lock"}) QFile::remove(path + ".making" + left);
        s.path = path.toStdString();
        std::printf("\nstored %lld readings in %.0f s: save %.2f µs a reading; the summaries' upkeep %.3f µs a reading"
                    " (goal < 0.5), %.1f %% of the store (goal < 10 %%)\n",
                    (long long)s.readings, now() - t0, s.savePerReading * 1e6, s.upkeepPerReading * 1e6,
                    s.summaryShare * 100);
        measure(s);
    }
    return 0;
}
