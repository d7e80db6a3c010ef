// SPDX-License-Identifier: GPL-3.0-or-later
// Capture while the window works: recording at 200 a second from a polled source and at 3,200 a
// second from the fake buffered device, while the window's thread exports a session of 1,000,000
// samples, clears and undoes 2,000,000, deletes a session of 2,000,000 and undoes it, and runs a
// stored analysis of it. For each action, the largest gap between consecutive stored readings in
// each run, beside the machine's own timer lateness (threads of the same real-time priority, one
// on each core, sleeping to deadlines) measured in the same run; then the same with two busy loops on the two
// cores. Goal: at most two intervals in every run on an idle machine; with the busy loops, the
// timer's worst lateness plus one interval. At 3,200 a second no scan is ever lost.
//
// By default a short run: 2 runs of each action on sessions of a tenth of those sizes.
// QUIVRA_BENCH_FULL=1 measures 20 runs at the full sizes (about 25 minutes); QUIVRA_BENCH_RUNS
// sets the runs.
#include <QApplication>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <pthread.h>
#include <sched.h>
#include <sys/prctl.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/Program.h"
#include "ui/MainViewController.h"
#include "recording/Options.h"
#include "ui/QuivraAppDelegate.h"
#include "recording/Session.h"
#include "recording/SessionAnalysis.h"
#include "bench/Measure.h"
#include "platform/sensors/SimulatedSource.h"
#include "tests/sensors/FakeIio.h"

namespace {

using platform::Micros;
using namespace std::chrono_literals;

void waitFor(const std::function<bool()>& done, int timeoutMs = 120000)
{
    const double until = bench::now() + timeoutMs / 1000.0;
    while (!done() && bench::now() < until) {
        QEventLoop loop;
        QTimer::singleShot(2, &loop, &QEventLoop::quit);
        loop.exec();
    }
}

// Threads at the capture's priority, one held on each core, that sleep to deadlines every
// `period` and note how late they wake: what the machine itself allows. The capture thread may
// run on any core, and a core can stall on its own (a kernel that is not preemptible, a host that
// takes the virtual processor away), so one floating timer would miss what the capture meets.
class TimerLateness {
public:
    explicit TimerLateness(std::chrono::microseconds period)
    {
        const int cores = std::max(1, int(std::thread::hardware_concurrency()));
        noted_.reserve(std::size_t(cores) * 1000000);
        for (int core = 0; core < cores; ++core)
            threads_.emplace_back([this, period, core](std::stop_token stop) { run(stop, period, core); });
    }
    // The worst lateness on any core between two wall-clock moments, in ms.
    double worstBetween(Micros from, Micros to)
    {
        std::lock_guard lock(lock_);
        double worst = 0;
        for (const auto& [at, late] : noted_)
            if (at >= from && at <= to) worst = std::max(worst, late);
        return worst;
    }

private:
    void run(std::stop_token stop, std::chrono::microseconds period, int core)
    {
        cpu_set_t set;
        CPU_ZERO(&set);
        CPU_SET(core, &set);
        ::pthread_setaffinity_np(::pthread_self(), sizeof set, &set);
        ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
        sched_param priority{};
        priority.sched_priority = 10;
        ::pthread_setschedparam(::pthread_self(), SCHED_FIFO, &priority);
        timespec next{};
        ::clock_gettime(CLOCK_MONOTONIC, &next);
        while (!stop.stop_requested()) {
            next.tv_nsec += long(period.count()) * 1000;
            while (next.tv_nsec >= 1000000000) next.tv_nsec -= 1000000000, ++next.tv_sec;
            ::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
            timespec woke{};
            ::clock_gettime(CLOCK_MONOTONIC, &woke);
            const double late = double(woke.tv_sec - next.tv_sec) * 1e3 + double(woke.tv_nsec - next.tv_nsec) / 1e6;
            std::lock_guard lock(lock_);
            if (noted_.size() < noted_.capacity()) noted_.emplace_back(platform::Clock::systemNow(), late);
        }
    }
    std::mutex lock_;
    std::vector<std::pair<Micros, double>> noted_;
    std::vector<std::jthread> threads_;
};

// Keeps a busy loop from being optimised away.
inline void benchmark_spin(unsigned long& n)
{
    asm volatile("" : "+r"(n));
    ++n;
}

struct Run {
    Micros from = 0, to = 0;
};

struct Action {
    const char* name;
    std::function<void()> once;
    std::vector<Run> runs;
};

void fill(store::ObjectContext* context, store::ObjectId session, int count, Micros start)
{
    for (int i = 0; i < count; ++i)
        context->insertSample(start + i * 5000LL, float(i % 97) / 7.0f, -0.015625f, -1.0f, session);
}

// One configuration: a fresh store, recording at `rate` from `device` (nullptr: the simulated
// source), every action `runs` times; prints a line per action.
void measure(double rate, bool buffered, bool busy, int runs, int exported, int removed)
{
    QTemporaryDir home;
    setenv("XDG_DATA_HOME", (home.path() + "/data").toLocal8Bit().constData(), 1);
    setenv("HOME", home.path().toLocal8Bit().constData(), 1);
    std::unique_ptr<fake::Tree> tree;
    std::jthread writer;
    std::atomic<long> written{0};
    const std::int64_t t0 = std::int64_t(platform::Clock::systemNow()) * 1000;
    Program delegateProgram;
    QuivraAppDelegate& delegate = delegateProgram.delegate;
    if (buffered) {
        tree = std::make_unique<fake::Tree>();
        tree->addBuffered(0, "fake");
        std::string error;
        delegate.accelerometer().setSource(sensors::makeAccelerometerSource("iio:device0", error));
        writer = std::jthread([&](std::stop_token stop) {
            fake::Feeder feeder(tree->node(0), tree->path("sys/iio:device0/buffer/enable"));
            if (!feeder.connect()) return;
            feeder.reconnect = 0ms;
            std::string batch;
            for (long i = 0; !stop.stop_requested();) {
                std::this_thread::sleep_for(10ms);
                const std::int64_t now = std::int64_t(platform::Clock::systemNow()) * 1000;
                batch.clear();
                for (; t0 + i * 312'500 <= now; ++i) batch += fake::scan16(int(i % 2048), 0, -2048, t0 + i * 312'500);
                if (!feeder.write(batch)) return;
                written = i;
            }
        });
    } else {
        delegate.accelerometer().setSource(std::make_unique<sensors::SimulatedSource>());
    }
    delegate.applicationDidFinishLaunchingWithOptions();
    MainViewController* controller = delegate.mainViewController();
    Recorder* recorder = controller->recorder();
    store::ObjectContext* context = delegate.managedObjectContext();
    BaseModel root = delegate.baseModel();
    Session big(context, context->insertSession(platform::Clock::now()));
    big.setBaseModel(root);
    fill(context, big.objectId(), removed, 1700000000000000);
    Session cleared = root.options().activeSession();
    fill(context, cleared.objectId(), exported, 1710000000000000);
    delegate.saveNow();
    root.options().setFramerate(int(rate));

    std::vector<Micros> stamps;
    stamps.reserve(std::size_t(rate * 600));
    recorder->addSampleListener([&](const store::SampleValues& v) { stamps.push_back(v.dateStamp); });
    bool savedOnce = false;
    QObject::connect(&delegate, &QuivraAppDelegate::saved, [&] { savedOnce = true; });
    auto saveAndWait = [&] {
        savedOnce = false;
        delegate.saveContext();
        waitFor([&] { return savedOnce && !context->isSaving(); });
    };

    const std::string exportedText = std::to_string(exported), removedText = std::to_string(removed);
    std::vector<Action> actions;
    actions.push_back({"export",
                       [&] {
                           bool done = false;
                           QObject conn;
                           QObject::connect(controller, &MainViewController::exported, &conn, [&] { done = true; });
                           QObject::connect(controller, &MainViewController::exportFailed, &conn, [&] { done = true; });
                           controller->exportSession();
                           waitFor([&] { return done; });
                       },
                       {}});
    actions.push_back({"clear and undo",
                       [&] {
                           // The active session holds as many as the other by now.
                           if (cleared.gData().count() < removed) {
                               fill(context, cleared.objectId(), removed - int(cleared.gData().count()),
                                    1720000000000000);
                               saveAndWait();
                           }
                           controller->deleteSessionPressed();
                           saveAndWait();
                           controller->undoButtonPressed();
                           saveAndWait();
                       },
                       {}});
    actions.push_back({"delete a session, undo",
                       [&] {
                           recorder->deleteSession(big);
                           saveAndWait();
                           recorder->undoRemoval();
                           saveAndWait();
                       },
                       {}});
    actions.push_back(
        {"stored analysis",
         [&] {
             SessionAnalysis job({delegate.storePath(), context->snapshot(big.objectId()), AnalysisOptions{}, 0});
             bool done = false;
             QObject::connect(&job, &SessionAnalysis::finished, [&] { done = true; });
             job.start();
             waitFor([&] { return done; });
         },
         {}});

    std::vector<std::jthread> loops;
    if (busy)
        for (int core = 0; core < 2; ++core)
            loops.emplace_back([](std::stop_token stop) {
                unsigned long spin = 0;
                while (!stop.stop_requested()) benchmark_spin(spin);
            });
    // Every millisecond, whatever the rate: a stall shows in full, not cut short by where it
    // falls between two of the timer's wakes.
    TimerLateness lateness(std::chrono::microseconds(1000));
    controller->startStopButtonPressed();
    bench::runFor(0.5);
    const double started = bench::now();
    for (int run = 0; run < runs; ++run)
        for (Action& action : actions) {
            Run r;
            r.from = platform::Clock::now();
            bench::runFor(0.1);
            action.once();
            bench::runFor(0.1);
            r.to = platform::Clock::now();
            action.runs.push_back(r);
        }
    const double elapsed = bench::now() - started;
    controller->startStopButtonPressed();
    loops.clear();
    writer.request_stop();

    std::sort(stamps.begin(), stamps.end());
    const double interval = 1000.0 / rate; // ms
    std::printf("%s at %.0f a second%s (%d runs each, %.0f s; export of %s samples, the others %s):\n",
                buffered ? "fake buffered device" : "polled source", rate, busy ? ", two busy loops" : "", runs,
                elapsed, exportedText.c_str(), removedText.c_str());
    for (const Action& action : actions) {
        std::vector<double> gaps, late;
        for (const Run& r : action.runs) {
            auto first = std::lower_bound(stamps.begin(), stamps.end(), r.from);
            double worst = 0;
            for (auto it = first; it + 1 != stamps.end() && *(it + 1) <= r.to; ++it)
                worst = std::max(worst, double(*(it + 1) - *it) / 1000.0);
            gaps.push_back(worst);
            late.push_back(lateness.worstBetween(r.from, r.to));
        }
        // A run is within the goal when its largest gap is at most two intervals, or at most the
        // worst the machine's own timer was late in the same run plus one interval.
        long explained = 0;
        for (std::size_t i = 0; i < gaps.size(); ++i)
            if (gaps[i] <= std::max(2 * interval, late[i] + interval) + 0.5) ++explained;
        std::sort(gaps.begin(), gaps.end());
        std::sort(late.begin(), late.end());
        const auto within = std::count_if(gaps.begin(), gaps.end(), [&](double g) { return g <= 2 * interval + 0.5; });
        std::printf("  %-24s largest gap ms: min %.2f median %.2f max %.2f; within two intervals %ld of %zu, "
                    "within the timer's lateness + one interval %ld | timer lateness ms: median %.2f max %.2f\n",
                    action.name, gaps.front(), gaps[gaps.size() / 2], gaps.back(), long(within), gaps.size(),
                    explained, late[late.size() / 2], late.back());
    }
    if (buffered) {
        // Every scan the device wrote from the first one stored to the last is stored once.
        const auto index = [&](Micros t) { return std::llround((double(t) * 1000 - double(t0)) / 312'500.0); };
        const long stored = long(stamps.size());
        const long distinct = long(std::unique(stamps.begin(), stamps.end()) - stamps.begin());
        const long spanned = long(index(stamps[std::size_t(distinct) - 1]) - index(stamps.front()) + 1);
        std::printf("  scans: %ld stored (%ld distinct), %ld spanned from the first to the last: %ld lost\n", stored,
                    distinct, spanned, spanned - distinct);
    }
}

// How the kernel lets a real-time thread in: without preemption, it waits on a busy core until
// the kernel work there reaches a point that yields.
std::string kernelPreemption()
{
    QFile config("/sys/kernel/debug/sched/preempt");
    if (config.open(QIODevice::ReadOnly)) return "preemption " + config.readAll().trimmed().toStdString();
    QFile version("/proc/version");
    if (version.open(QIODevice::ReadOnly)) return version.readAll().trimmed().toStdString();
    return "unknown";
}

} // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    const bool full = std::getenv("QUIVRA_BENCH_FULL") != nullptr;
    const char* asked = std::getenv("QUIVRA_BENCH_RUNS");
    const int runs = asked ? std::max(1, std::atoi(asked)) : full ? 20 : 2;
    const int exported = full ? 1000000 : 100000, removed = full ? 2000000 : 200000;
    std::printf("kernel: %s\n", kernelPreemption().c_str());
    for (const bool busy : {false, true}) {
        measure(200, false, busy, runs, exported, removed);
        measure(3200, true, busy, runs, exported, removed);
    }
    return 0;
}
