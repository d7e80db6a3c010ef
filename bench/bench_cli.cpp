// SPDX-License-Identifier: GPL-3.0-or-later
// The subcommands as the processes a user runs, each figure beside a baseline from the same run:
//
//   export   `quivra export N --format csv -o -` of 1,000,000 stored samples, beside `sqlite3 -csv`
//            printing the same rows (the goal: at most half its time); the fastest of five runs
//            each, taken in turns, into /dev/null.
//   publish  `quivra record --rate 1000` from a fake IIO accelerometer (a sysfs tree and a FIFO fed
//            1,000 scans a second by this program), with --publish-raw to a local mosquitto beside
//            recording alone: the recorder's CPU time (all its threads, from its CPU-time clock)
//            per reading once it runs, start-up left out.
#include <QCoreApplication>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "recording/BaseModel.h"
#include "recording/Options.h"
#include "recording/Session.h"
#include "recording/StoreKeeper.h"
#include "tests/publish/MosquittoBroker.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr int kExportSamples = 1000000;
constexpr int kSettleSeconds = 3; // start-up, store and broker connection
constexpr int kMeasureSeconds = 10;
constexpr int kRecordRounds = 3; // taken in turns; the least CPU of each counts

struct Child {
    int status = -1;
    double wallSeconds = 0;
};

// Starts a program with its output going to /dev/null.
pid_t startQuiet(const std::vector<std::string>& argv)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::dup2(null, 2);
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    return pid;
}

// Runs a program with its output going to /dev/null and waits for it.
Child run(const std::vector<std::string>& argv)
{
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = startQuiet(argv);
    Child child;
    int status = 0;
    ::waitpid(pid, &status, 0);
    child.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    child.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return child;
}

// The fastest of `rounds` runs of each command, taken in turns, so that a busy moment of the
// machine weighs on all of them alike. -1 for a command that failed.
std::vector<double> fastest(int rounds, const std::vector<std::vector<std::string>>& commands)
{
    std::vector<double> best(commands.size(), 1e9);
    for (int round = 0; round < rounds; ++round)
        for (std::size_t i = 0; i < commands.size(); ++i) {
            const Child c = run(commands[i]);
            best[i] = c.status != 0 || best[i] < 0 ? -1 : std::min(best[i], c.wallSeconds);
        }
    return best;
}

// The store of $XDG_DATA_HOME, with a session of `count` samples at 1,000 a second.
long long fillStore(int count)
{
    StoreKeeper keeper;
    store::StoreError error;
    if (!keeper.open(std::string(std::getenv("XDG_DATA_HOME")) + "/Quivra/Quivra.sqlite", error)) return 0;
    BaseModel root = keeper.loadRoot();
    store::ObjectContext& context = *keeper.context();
    Session session(&context, context.insertSession(1714557600000000));
    session.setBaseModel(root);
    for (int i = 0; i < count; ++i) {
        const double t = i / 1000.0;
        context.insertSample(1714557600000000 + i * 1000LL, float(0.3 * std::sin(2 * M_PI * 49.7 * t)),
                             float(0.01 * std::cos(t)), float(-1 + 0.002 * std::sin(7 * t)), session.objectId());
    }
    return keeper.saveNow() ? session.objectId() : 0;
}

// A fake IIO accelerometer with a buffer: its sysfs files and a FIFO as its device node, which a
// thread feeds 1,000 scans a second (three le:s16 axes and a wall-clock time stamp) while a
// reader has the buffer enabled.
class FakeDevice {
public:
    explicit FakeDevice(const fs::path& folder) : folder_(folder)
    {
        const fs::path d = folder / "sys/iio:device0";
        auto write = [](const fs::path& file, const std::string& text) {
            fs::create_directories(file.parent_path());
            std::ofstream(file) << text << "\n";
        };
        write(d / "name", "benchaccel");
        write(d / "in_accel_scale", "0.001");
        for (const char* axis : {"x", "y", "z"}) {
            const std::string a = axis;
            write(d / ("in_accel_" + a + "_raw"), "0");
            write(d / ("scan_elements/in_accel_" + a + "_en"), "0");
            write(d / ("scan_elements/in_accel_" + a + "_index"), std::to_string(*axis - 'x'));
            write(d / ("scan_elements/in_accel_" + a + "_type"), "le:s16/16>>0");
        }
        write(d / "scan_elements/in_timestamp_en", "0");
        write(d / "scan_elements/in_timestamp_index", "3");
        write(d / "scan_elements/in_timestamp_type", "le:s64/64>>0");
        write(d / "buffer/enable", "0");
        write(d / "buffer/length", "2");
        write(d / "buffer/watermark", "1");
        write(d / "sampling_frequency", "100");
        write(d / "sampling_frequency_available", "100 200 500 1000 2000");
        write(d / "current_timestamp_clock", "realtime");
        write(d / "trigger/current_trigger", "");
        write(folder / "sys/trigger0/name", "benchaccel-dev0");
        fs::create_directories(folder / "dev");
        ::mkfifo((folder / "dev/iio:device0").c_str(), 0600);
        ::setenv("QUIVRA_IIO_ROOT", (folder / "sys").c_str(), 1);
        ::setenv("QUIVRA_IIO_DEV", (folder / "dev").c_str(), 1);
        feeder_ = std::thread([this] { feed(); });
    }
    ~FakeDevice()
    {
        stop_ = true;
        feeder_.join();
    }
    // Scans written into the FIFO so far.
    long long written() const { return written_.load(); }

private:
    void feed()
    {
        const std::string node = (folder_ / "dev/iio:device0").string();
        const fs::path enable = folder_ / "sys/iio:device0/buffer/enable";
        int fd = -1;
        while (!stop_ && fd < 0) {
            int enabled = 0;
            std::ifstream(enable) >> enabled;
            if (enabled == 1) fd = ::open(node.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd < 0) std::this_thread::sleep_for(1ms);
        }
        if (fd < 0) return;
        ::fcntl(fd, F_SETFL, 0);
        // Ten scans every 10 ms, as a device with a watermark hands them out.
        auto due = std::chrono::steady_clock::now();
        long long n = 0;
        while (!stop_) {
            std::string batch;
            timespec now{};
            ::clock_gettime(CLOCK_REALTIME, &now);
            const long long ns = now.tv_sec * 1000000000LL + now.tv_nsec;
            for (int i = 0; i < 10; ++i, ++n) {
                const auto x = std::int16_t(std::lround(300 * std::sin(2 * M_PI * 49.7 * double(n) / 1000)));
                const std::int16_t scan16[4] = {x, 5, -9807, 0};
                const long long stamp = ns - (9 - i) * 1000000LL;
                batch.append(reinterpret_cast<const char*>(scan16), sizeof scan16);
                batch.append(reinterpret_cast<const char*>(&stamp), sizeof stamp);
            }
            if (::write(fd, batch.data(), batch.size()) < 0) break; // the recorder ended
            written_ += 10;
            due += 10ms;
            std::this_thread::sleep_until(due);
        }
        ::close(fd);
    }

    fs::path folder_;
    std::atomic<bool> stop_{false};
    std::atomic<long long> written_{0};
    std::thread feeder_;
};

// A process's CPU time so far (all its threads, user and system), in seconds.
double cpuSeconds(pid_t pid)
{
    clockid_t clock{};
    timespec t{};
    if (::clock_getcpuclockid(pid, &clock) != 0 || ::clock_gettime(clock, &t) != 0) return -1;
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// `quivra record --accelerometer=iio --rate 1000` on a store and a fake device of its own: the
// recorder's CPU time per reading once it runs (start-up left out), over kMeasureSeconds.
double cpuPerReading(const fs::path& home, const std::string& quivra, const std::vector<std::string>& extra)
{
    fs::remove_all(home);
    fs::create_directories(home / "data");
    ::setenv("HOME", home.c_str(), 1);
    ::setenv("XDG_DATA_HOME", (home / "data").c_str(), 1);
    FakeDevice device(home / "device");
    std::vector<std::string> argv = {quivra, "record", "--accelerometer=iio", "--rate", "1000"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    const pid_t pid = startQuiet(argv);
    std::this_thread::sleep_for(std::chrono::seconds(kSettleSeconds));
    const double cpuFrom = cpuSeconds(pid);
    const long long readingsFrom = device.written();
    std::this_thread::sleep_for(std::chrono::seconds(kMeasureSeconds));
    const double cpu = cpuSeconds(pid) - cpuFrom;
    const long long readings = device.written() - readingsFrom;
    ::kill(pid, SIGTERM);
    int status = 0;
    ::waitpid(pid, &status, 0);
    const bool ok = WIFEXITED(status) && WEXITSTATUS(status) == 0 && cpuFrom >= 0 && readings > 0;
    return ok ? cpu * 1e6 / double(readings) : -1;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::signal(SIGPIPE, SIG_IGN);
    const std::string quivra = (fs::path(argv[0]).parent_path() / "quivra").string();
    const fs::path work = fs::temp_directory_path() / ("quivra-bench-cli-" + std::to_string(::getpid()));
    fs::create_directories(work / "data");
    ::setenv("HOME", work.c_str(), 1);
    ::setenv("XDG_DATA_HOME", (work / "data").c_str(), 1);
    ::setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);

    std::printf("== export: %d samples\n", kExportSamples);
    const long long session = fillStore(kExportSamples);
    const std::string store = (work / "data/Quivra/Quivra.sqlite").string();
    const std::string id = std::to_string(session);
    const std::vector<double> times =
        fastest(5, {{"sqlite3", "-csv", store,
                     "SELECT date_stamp, x_value, y_value, z_value FROM gdata WHERE session_id = " + id
                         + " ORDER BY date_stamp, id"},
                    {quivra, "export", id, "--format", "csv", "-o", "-"},
                    {quivra, "export", id, "--format", "csv", "--relative", "-o", "-"},
                    {quivra, "export", id, "-o", "-"}});
    const double sqlite = times[0], csv = times[1], relative = times[2], asc = times[3];
    if (session == 0 || sqlite <= 0 || csv <= 0) {
        std::printf("bench_cli: the export could not be measured (no store, or sqlite3 missing)\n");
    } else {
        std::printf("  sqlite3 -csv of the rows (baseline)     %6.3f s\n", sqlite);
        std::printf("  quivra export --format csv              %6.3f s  (%.2f x the baseline; goal <= 0.5)\n", csv,
                    csv / sqlite);
        std::printf("  quivra export --format csv --relative   %6.3f s  (%.2f x)\n", relative, relative / sqlite);
        std::printf("  quivra export (.asc, UTF-16)            %6.3f s  (%.2f x)\n", asc, asc / sqlite);
    }

    std::printf("== publish: %d s of recording at 1,000 readings a second, after %d s to settle; best of %d\n",
                kMeasureSeconds, kSettleSeconds, kRecordRounds);
    MosquittoBroker broker;
    if (!MosquittoBroker::installed() || !broker.running()) {
        std::printf("bench_cli: no mosquitto broker; the publishing figures are skipped\n");
    } else {
        double alone = 1e9, publishing = 1e9;
        for (int round = 0; round < kRecordRounds; ++round) {
            const double a = cpuPerReading(work / "alone", quivra, {});
            const double p =
                cpuPerReading(work / "publishing", quivra, {"--publish", broker.url("bench/cli"), "--publish-raw"});
            alone = a < 0 || alone < 0 ? -1 : std::min(alone, a);
            publishing = p < 0 || publishing < 0 ? -1 : std::min(publishing, p);
        }
        if (alone < 0 || publishing < 0) {
            std::printf("bench_cli: a recording failed\n");
        } else {
            std::printf("  recording alone (baseline)              %6.2f us CPU a reading\n", alone);
            std::printf("  recording, publishing raw and summaries %6.2f us CPU a reading  (%+.2f us for publishing)\n",
                        publishing, publishing - alone);
        }
    }
    fs::remove_all(work);
    return 0;
}
