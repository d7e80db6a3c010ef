// SPDX-License-Identifier: GPL-3.0-or-later
// A fleet on one machine: N recorders (`quivra record`, simulated source, 200 readings a second,
// each with a store of its own) publish their summaries to one mosquitto and one influxd for S
// seconds. Counts every summary that arrived (over MQTT by topic and time; in InfluxDB as points)
// and every one that arrived twice, and measures the CPU time and peak memory of each recorder,
// of the broker and of the database. N and S come from QUIVRA_FLEET_RECORDERS (10) and
// QUIVRA_FLEET_SECONDS (15); scripts/fleet runs the full 50 x 60 s.
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "tests/publish/InfluxServer.h"
#include "tests/publish/MosquittoBroker.h"
#include "tests/publish/Subscriber.h"

namespace {

int setting(const char* name, int fallback)
{
    const char* value = std::getenv(name);
    return value && std::atoi(value) > 0 ? std::atoi(value) : fallback;
}

// CPU seconds and peak memory (MiB) of a running process, from /proc.
struct Usage {
    double cpu = 0;
    double peakMiB = 0;
};

Usage usageOf(pid_t pid)
{
    Usage usage;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), {});
    const auto close = text.rfind(')');
    if (close != std::string::npos) {
        std::vector<std::string> fields;
        std::string field;
        for (std::size_t i = close + 2; i <= text.size(); ++i) {
            if (i == text.size() || text[i] == ' ') {
                fields.push_back(field);
                field.clear();
            } else {
                field.push_back(text[i]);
            }
        }
        // utime and stime are fields 14 and 15 of the line, 12 and 13 after the name.
        if (fields.size() > 13)
            usage.cpu = double(std::stoll(fields[11]) + std::stoll(fields[12])) / double(::sysconf(_SC_CLK_TCK));
    }
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0) usage.peakMiB = std::atof(line.c_str() + 6) / 1024.0;
    return usage;
}

pid_t childPid(const char* program)
{
    // The broker and the database are this process's children: find them by their program.
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream stat(entry.path() / "stat");
        std::string text((std::istreambuf_iterator<char>(stat)), {});
        const auto close = text.rfind(')');
        if (close == std::string::npos || text.size() < close + 4) continue;
        std::istringstream rest(text.substr(close + 4));
        long parent = 0;
        rest >> parent;
        std::error_code ec;
        if (parent == ::getpid() && std::filesystem::read_symlink(entry.path() / "exe", ec).string() == program)
            return pid_t(std::stol(name));
    }
    return -1;
}

struct Recorder {
    pid_t pid = -1;
    int status = -1;
    rusage usage{};
};

// One recorder in a home of its own, its output in files there.
pid_t startRecorder(const std::string& home, int seconds, const std::string& mqtt, const std::string& influx)
{
    const std::string program = std::string(QUIVRA_BINARY_DIR) + "/quivra";
    std::filesystem::create_directories(home);
    std::vector<std::string> environment = {"HOME=" + home, "XDG_DATA_HOME=" + home + "/data", "PATH=/usr/bin:/bin"};
    std::vector<std::string> arguments = {program,
                                          "record",
                                          "--accelerometer=simulated",
                                          "--rate",
                                          "200",
                                          "--duration",
                                          std::to_string(seconds),
                                          "--publish",
                                          mqtt,
                                          "--publish",
                                          influx};
    std::vector<char*> argv, envp;
    for (auto& a : arguments) argv.push_back(a.data());
    for (auto& e : environment) envp.push_back(e.data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, (home + "/out.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, (home + "/err.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// What arrived over MQTT from one recorder: its summaries by time.
struct Arrived {
    std::size_t unique = 0;
    int twice = 0; // a second copy of one
    int gaps = 0;  // a step longer than 1.6 s between two: one missing
};

Arrived arrived(const Subscriber& watcher, const std::string& topic)
{
    std::map<long long, int> times;
    for (const std::string& payload : watcher.payloads(topic))
        ++times[QJsonDocument::fromJson(QByteArray::fromStdString(payload)).object()["time_us"].toInteger()];
    Arrived out;
    out.unique = times.size();
    long long previous = 0;
    for (const auto& [time, copies] : times) {
        out.twice += copies > 1;
        out.gaps += previous != 0 && time - previous > 1600000;
        previous = time;
    }
    return out;
}

double cpuSeconds(const rusage& usage)
{
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
           + 1e-6 * double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
}

// Starts the fleet, waits for its end and prints what arrived and what it cost; true when every
// summary arrived once at both.
bool runFleet(int count, int seconds, MosquittoBroker& broker, InfluxServer& influx, const Subscriber& watcher)
{
    const pid_t brokerPid = childPid(MosquittoBroker::kProgram), influxPid = childPid(InfluxServer::kProgram);
    const Usage brokerBefore = usageOf(brokerPid), influxBefore = usageOf(influxPid);
    const std::filesystem::path homes =
        std::filesystem::temp_directory_path() / ("quivra-fleet-" + std::to_string(::getpid()));
    std::vector<Recorder> recorders(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        recorders[std::size_t(i)].pid = startRecorder((homes / ("r" + std::to_string(i))).string(), seconds,
                                                      broker.url("fleet/r" + std::to_string(i)), influx.url("fleet"));
    for (Recorder& r : recorders) ::wait4(r.pid, &r.status, 0, &r.usage);
    std::this_thread::sleep_for(std::chrono::seconds(2)); // the last deliveries
    const Usage brokerAfter = usageOf(brokerPid), influxAfter = usageOf(influxPid);
    std::filesystem::remove_all(homes);

    Arrived total;
    int failed = 0;
    double cpu = 0, worstCpu = 0, memory = 0, worstMemory = 0;
    for (int i = 0; i < count; ++i) {
        const Arrived one = arrived(watcher, "fleet/r" + std::to_string(i) + "/summary");
        total.unique += one.unique;
        total.twice += one.twice;
        total.gaps += one.gaps;
        const Recorder& r = recorders[std::size_t(i)];
        failed += !(WIFEXITED(r.status) && WEXITSTATUS(r.status) == 0);
        cpu += cpuSeconds(r.usage);
        worstCpu = std::max(worstCpu, cpuSeconds(r.usage));
        memory += double(r.usage.ru_maxrss) / 1024.0;
        worstMemory = std::max(worstMemory, double(r.usage.ru_maxrss) / 1024.0);
    }
    const QJsonObject answer =
        QJsonDocument::fromJson(QByteArray::fromStdString(influx.query("SELECT count(x_rms) FROM vibration", "fleet")))
            .object();
    const long long points = answer["results"][0]["series"][0]["values"][0][1].toInteger();

    std::printf("%d recorders x %d s at 200 readings/s (%d ended with an error)\n", count, seconds, failed);
    std::printf("  MQTT summaries: %zu distinct (about %d expected, one a second each), %d missing, %d arrived twice\n",
                total.unique, count * seconds, total.gaps, total.twice);
    std::printf("  InfluxDB points: %lld (%s the MQTT count)\n", points,
                points == (long long)total.unique ? "equal to" : "DIFFERENT from");
    std::printf(
        "  per recorder: CPU %.1f%% of a core on average (%.1f%% at most), peak memory %.1f MiB (%.1f at most)\n",
        100 * cpu / count / seconds, 100 * worstCpu / seconds, memory / count, worstMemory);
    std::printf("  mosquitto: CPU %.2f%% of a core, peak memory %.1f MiB\n",
                100 * (brokerAfter.cpu - brokerBefore.cpu) / seconds, brokerAfter.peakMiB);
    std::printf("  influxd:   CPU %.2f%% of a core, peak memory %.1f MiB\n",
                100 * (influxAfter.cpu - influxBefore.cpu) / seconds, influxAfter.peakMiB);
    return failed == 0 && total.twice == 0 && total.gaps == 0 && points == (long long)total.unique;
}

} // namespace

int main()
{
    const int count = setting("QUIVRA_FLEET_RECORDERS", 10);
    const int seconds = setting("QUIVRA_FLEET_SECONDS", 15);
    if (!MosquittoBroker::installed() || !InfluxServer::installed()) {
        std::printf("bench_fleet: mosquitto, influxd or curl is not installed; skipped\n");
        return 0;
    }
    MosquittoBroker broker;
    InfluxServer influx;
    if (!broker.running() || !influx.running()) {
        std::printf("bench_fleet: the broker or the database did not start; skipped\n%s%s", broker.log().c_str(),
                    influx.log().c_str());
        return 0;
    }
    influx.query("CREATE DATABASE fleet");
    Subscriber watcher(broker.port(), "fleet/+/summary");
    if (!watcher.ready()) {
        std::printf("bench_fleet: cannot subscribe; skipped\n");
        return 0;
    }
    return runFleet(count, seconds, broker, influx, watcher) ? 0 : 1;
}
