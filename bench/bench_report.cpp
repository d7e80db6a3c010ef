// SPDX-License-Identifier: GPL-3.0-or-later
// Reports and trends, each figure beside a baseline from the same run:
//
//   report  `quivra report N` of one stored session (1,200,000 samples; 12,000,000 with
//           QUIVRA_BENCH_REPORT_SAMPLES=12000000) beside `quivra analyse N --json` of the same
//           session: wall time and the process's peak memory (the goal: under 3 s and 128 MiB at
//           12 M samples). The fastest of three runs each, taken in turns.
//   trend   the trend of one point over 1,000 sessions from their kept summaries (the goal: under
//           100 ms), beside the first trend, which makes and keeps every summary.
#include <QApplication>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/Measure.h"
#include "cli/StoreWrites.h"
#include "recording/Trend.h"
#include "platform/store/Database.h"
#include "platform/store/ObjectContext.h"
#include "recording/StoreKeeper.h"
#include "ui/TrendView.h"
#include <qcustomplot.h>

namespace {

struct Child {
    double seconds = 0;
    double peakMiB = 0;
    int status = -1;
};

// Runs the built program on the store of XDG_DATA_HOME, its output to /dev/null.
Child runQuivra(const std::vector<std::string>& arguments)
{
    const double start = bench::now();
    std::fflush(stdout); // or the child would print it again
    const pid_t pid = ::fork();
    if (pid == 0) {
        std::freopen("/dev/null", "w", stdout);
        std::freopen("/dev/null", "w", stderr);
        std::vector<char*> argv{const_cast<char*>(QUIVRA_BINARY_DIR "/quivra")};
        for (const auto& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    return {bench::now() - start, double(usage.ru_maxrss) / 1024.0, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

Child fastest(const std::vector<Child>& runs)
{
    return *std::min_element(runs.begin(), runs.end(),
                             [](const Child& a, const Child& b) { return a.seconds < b.seconds; });
}

// Sessions made with the window's classes; the long one's samples then go in by SQL in one
// transaction, which is much quicker to set up than the recorder's saves.
bool makeStore(const std::string& path, long long longSamples, int pointSessions)
{
    store::StoreError error;
    store::ObjectId big = 0;
    constexpr platform::Micros start = 1714557600000000;
    {
        StoreKeeper keeper;
        if (!keeper.open(path, error)) return false;
        keeper.loadRoot();
        store::ObjectContext& context = *keeper.context();
        for (int s = 0; s < pointSessions; ++s) {
            const store::ObjectId id = context.insertSession(start + platform::Micros(s) * 86400000000);
            for (int i = 0; i < 400; ++i) {
                const double t = i / 200.0;
                context.insertSample(start + platform::Micros(s) * 86400000000 + i * 5000,
                                     float((1 + s % 7) * 0.05 * std::sin(2 * M_PI * 25 * t)), 0.01f, -1.0f, id);
            }
            context.setIdentity(id, {"", "Fan 7", "NDE bearing", "", "", "", 200});
        }
        big = context.insertSession(start - 86400000000);
        if (!keeper.saveNow() || !keeper.finalSave(error)) return false;
    } // the store's lock goes with the keeper

    store::Database db;
    if (!db.open(path, error) || !db.exec("BEGIN", error)) return false;
    store::Statement insert(
        db, "INSERT INTO gdata (session_id, date_stamp, x_value, y_value, z_value) VALUES (?1, ?2, ?3, ?4, ?5)");
    for (long long i = 0; i < longSamples; ++i) {
        const double t = double(i) / 3200.0;
        insert.bind(1, big).bind(2, std::int64_t(start - 86400000000 + i * 312));
        insert.bind(3, 0.2 * std::sin(2 * M_PI * 49.5 * t)).bind(4, 0.05 * std::sin(2 * M_PI * 130 * t)).bind(5, -1.0);
        insert.run();
        insert.reset();
    }
    return db.exec("UPDATE session SET sample_count = " + std::to_string(longSamples)
                       + " WHERE id = " + std::to_string(big) + "; COMMIT",
                   error);
}

} // namespace

int main(int argc, char** argv)
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    const char* asked = std::getenv("QUIVRA_BENCH_REPORT_SAMPLES");
    const long long samples = asked ? std::atoll(asked) : 1200000;
    char folder[] = "/tmp/quivra-bench-report-XXXXXX";
    if (!::mkdtemp(folder)) return 1;
    ::setenv("XDG_DATA_HOME", folder, 1);
    const std::string store = std::string(folder) + "/Quivra/Quivra.sqlite";
    constexpr int kSessions = 1000;
    const double made = bench::now();
    if (!makeStore(store, samples, kSessions)) {
        std::fprintf(stderr, "bench_report: the store could not be made\n");
        return 1;
    }
    std::printf("store of %lld samples in one session and %d short ones made in %.1f s\n", samples, kSessions,
                bench::now() - made);

    const std::string big = std::to_string(kSessions + 2); // after the root's first session and the short ones
    const std::string pdf = std::string(folder) + "/report.pdf";
    std::vector<Child> reports, analyses;
    for (int round = 0; round < 3; ++round) {
        analyses.push_back(runQuivra({"analyse", big, "--json"}));
        reports.push_back(runQuivra({"report", big, "-o", pdf}));
    }
    const Child report = fastest(reports), analysis = fastest(analyses);
    if (report.status != 0 || analysis.status != 0) {
        std::fprintf(stderr, "bench_report: quivra exited with %d (report) and %d (analyse)\n", report.status,
                     analysis.status);
        return 1;
    }
    std::printf("report of %lld samples   %6.2f s  %6.1f MiB peak   (goal at 12 M: under 3 s, 128 MiB)\n", samples,
                report.seconds, report.peakMiB);
    std::printf("analyse alone            %6.2f s  %6.1f MiB peak\n", analysis.seconds, analysis.peakMiB);

    // The first trend makes every summary and keeps it; the next ones read them.
    const auto trend = [&](bool keep) {
        cli::StoreWrites writes;
        std::string reason;
        if (keep && !writes.open(store, reason)) std::fprintf(stderr, "bench_report: %s\n", reason.c_str());
        store::SessionReader reader;
        store::StoreError error;
        reader.open(store, error);
        const double start = bench::now();
        std::vector<TrendPoint> points;
        trendOf(
            reader, "Fan 7", "NDE bearing", AnalysisOptions::fromStored(reader.settings()),
            [&](const store::SessionSummary& made) {
                if (keep) store::writeSummary(writes.database(), made, error);
            },
            points, error);
        return std::pair{bench::now() - start, points};
    };
    const auto [first, points] = trend(true);
    double kept = 1e9, drawn = 1e9;
    for (int round = 0; round < 5; ++round) kept = std::min(kept, trend(false).first);
    // The window's trend: the points given to the plot, which draws them. These short sessions have
    // no velocity of their own; each is given one, so that every series is drawn.
    std::vector<TrendPoint> drawnPoints = points;
    for (TrendPoint& p : drawnPoints) {
        p.summary.hasVelocity = true;
        for (std::size_t a = 0; a < 3; ++a) p.summary.velocity[a] = p.summary.rms[a] * 1000;
    }
    TrendView view("Fan 7 \u00b7 NDE bearing");
    view.resize(960, 600);
    view.show();
    for (int round = 0; round < 5; ++round) {
        const double start = bench::now();
        view.showTrend(drawnPoints, AnalysisOptions{}.settings, 0, 0); // and drawn
        drawn = std::min(drawn, bench::now() - start);
    }
    std::printf("trend of %zu sessions    %6.1f ms from kept summaries (goal: under 100 ms)\n", points.size(),
                kept * 1e3);
    std::printf("window's trend drawn     %6.1f ms for the same points\n", drawn * 1e3);
    std::printf("first trend              %6.1f ms, making and keeping every summary\n", first * 1e3);
    std::filesystem::remove_all(folder);
    return 0;
}
