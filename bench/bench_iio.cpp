// SPDX-License-Identifier: GPL-3.0-or-later
// Buffered IIO capture, each figure beside a baseline from the same run:
//  - decoding 16-bit three-axis scans with time stamps into readings (goal: above 10 million a
//    second) beside a memcpy of the same bytes;
//  - a fake device (a FIFO) at 3,200 scans a second for 20 s (QUIVRA_BENCH_SECONDS to change) read
//    through the streaming source as the capture thread reads it: nothing lost, no gap, and the
//    reading thread's CPU beside the fake device's own for writing the same scans;
//  - what a sample costs on disk in the store, with its index;
//  - the whole program, `quivra record --rate 3200`, recording from the fake device for a minute
//    (QUIVRA_BENCH_PROGRAM_SECONDS to change; 600 for the ten-minute run): nothing lost, its CPU
//    use, and how fast its store grows.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QTemporaryDir>

#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>
#include <vector>

#include "recording/BaseModel.h"
#include "recording/Options.h"
#include "recording/Session.h"
#include "platform/sensors/IioBufferSource.h"
#include "platform/sensors/IioScan.h"
#include "platform/store/ObjectContext.h"
#include "tests/sensors/FakeIio.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t batchScans = 4096;

// Scans as the kernel lays them out for `type` on each axis and a time stamp: 16 bytes.
struct Scans {
    std::vector<sensors::ScanChannel> channels;
    sensors::ScanDecoder decoder;
    std::vector<std::uint8_t> bytes;
    explicit Scans(const char* type)
    {
        std::string error;
        for (int i = 0; i < 4; ++i) {
            channels.push_back({i < 3 ? std::string("in_accel_") + char('x' + i) : "in_timestamp", i, {}, 0});
            sensors::parseScanType(i < 3 ? type : "le:s64/64>>0", channels.back().type, error);
        }
        const std::size_t size = sensors::layOutScan(channels, error);
        decoder = sensors::ScanDecoder(size, {&channels[0], &channels[1], &channels[2]}, &channels[3],
                                       {{0.0383, 0.0383, 0.0383}, {0, 0, 0}, {0, 1, 0, -1, 0, 0, 0, 0, -1}}, 0);
        std::string all;
        for (std::size_t i = 0; i < batchScans; ++i)
            all +=
                fake::scan16(int(i % 4096) - 2048, 100, -1000, 1'700'000'000'000'000'000 + std::int64_t(i) * 312'500);
        bytes.assign(all.begin(), all.end());
    }
};

void DecodeScans(benchmark::State& state, const char* type)
{
    Scans scans(type);
    std::vector<sensors::Acceleration> out;
    out.reserve(batchScans);
    for (auto _ : state) {
        out.clear();
        scans.decoder.decode(scans.bytes.data(), scans.bytes.size(), out);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(std::int64_t(state.iterations()) * std::int64_t(batchScans));
}

void CopyScans(benchmark::State& state)
{
    Scans scans("le:s16/16>>0");
    std::vector<std::uint8_t> copy(scans.bytes.size());
    for (auto _ : state) {
        std::memcpy(copy.data(), scans.bytes.data(), scans.bytes.size());
        benchmark::DoNotOptimize(copy.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(std::int64_t(state.iterations()) * std::int64_t(batchScans));
}

double threadCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
           + 1e-6 * double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
}

// Scans a second, by hand, for the summary: decoding and copying the same bytes.
std::pair<double, double> decodeAndCopyRates()
{
    Scans scans("le:s16/16>>0");
    std::vector<sensors::Acceleration> out;
    out.reserve(batchScans);
    std::vector<std::uint8_t> copy(scans.bytes.size());
    constexpr int rounds = 5000;
    auto start = Clock::now();
    for (int i = 0; i < rounds; ++i) {
        out.clear();
        scans.decoder.decode(scans.bytes.data(), scans.bytes.size(), out);
        benchmark::DoNotOptimize(out.data());
    }
    const double decode = std::chrono::duration<double>(Clock::now() - start).count();
    start = Clock::now();
    for (int i = 0; i < rounds; ++i) {
        std::memcpy(copy.data(), scans.bytes.data(), scans.bytes.size());
        benchmark::DoNotOptimize(copy.data());
        benchmark::ClobberMemory();
    }
    const double copied = std::chrono::duration<double>(Clock::now() - start).count();
    const double scansDone = double(rounds) * double(batchScans);
    return {scansDone / decode, scansDone / copied};
}

struct StreamFigures {
    long read = 0, gaps = 0;
    double seconds = 0, readerCpu = 0, writerCpu = 0;
    std::string error;
};

StreamFigures stream(double seconds)
{
    StreamFigures f;
    fake::Tree tree;
    tree.addBuffered(0, "bench");
    auto source = sensors::makeAccelerometerSource("iio:0", f.error);
    if (!source || !source->startStreaming(3200, f.error)) return f;
    const long total = std::lround(3200 * seconds);
    const std::int64_t t0 = 1'700'000'000'000'000'000;
    std::atomic<bool> finished{false};
    std::jthread writer([&] {
        fake::Feeder feeder(tree.node(0), tree.path("sys/iio:device0/buffer/enable"));
        if (!feeder.connect()) return;
        const double cpu0 = threadCpuSeconds();
        const auto start = Clock::now();
        std::string batch;
        for (long i = 0, batches = 0; i < total; ++batches) {
            std::this_thread::sleep_until(start + std::chrono::milliseconds(10 * batches));
            batch.clear();
            for (; i < total && i < (batches + 1) * 32; ++i)
                batch += fake::scan16(int(i % 2048), 0, -2048, t0 + i * 312'500);
            if (!feeder.write(batch)) break;
        }
        f.writerCpu = threadCpuSeconds() - cpu0;
        while (!finished.load()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    });
    // The capture thread's part: batches of at most 50 ms, until every scan is in.
    const double cpu0 = threadCpuSeconds();
    const auto start = Clock::now();
    const auto deadline = start + std::chrono::duration<double>(seconds + 30);
    std::vector<sensors::Acceleration> batch;
    platform::Micros last = 0;
    while (f.read < total && Clock::now() < deadline) {
        batch.clear();
        if (!source->readStream(batch, 50, f.error)) break;
        for (const auto& reading : batch) {
            f.gaps += last != 0 && reading.timestamp - last > 400; // 312.5 us apart
            last = reading.timestamp;
        }
        f.read += long(batch.size());
    }
    f.readerCpu = threadCpuSeconds() - cpu0;
    f.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    source->stopStreaming();
    finished = true;
    return f;
}

// The size of a closed store (so its WAL is checkpointed) holding `samples` samples.
std::uintmax_t storeSize(int samples)
{
    QTemporaryDir dir;
    const std::string path = (dir.path() + "/Quivra.sqlite").toStdString();
    {
        store::ObjectContext context;
        store::StoreError error;
        if (!context.open(path, error)) return 0;
        BaseModel root = BaseModel::init(context);
        const store::ObjectId session = root.options().activeSession().objectId();
        for (int i = 0; i < samples; ++i)
            context.insertSample(1'700'000'000'000'000 + platform::Micros(i) * 312, 0.001f * float(i % 977), 0.25f,
                                 -1.0f, session);
        context.save(error);
    }
    return std::filesystem::file_size(path);
}

// Bytes of store file per sample (its row and its index entry), from a minute at 3,200 a second.
double bytesPerSample()
{
    constexpr int samples = 192'000;
    return double(storeSize(samples) - storeSize(0)) / samples;
}

struct ProgramFigures {
    long long rows = 0, gaps = 0;
    double cpu = 0, seconds = 0;
    std::uintmax_t bytes = 0;
    int status = -1;
};

// `quivra record --accelerometer=iio:0 --rate 3200 --duration S` on a fake device fed in real time.
ProgramFigures wholeProgram(const std::string& quivra, double seconds)
{
    ProgramFigures f;
    QTemporaryDir home;
    fake::Tree tree;
    tree.addBuffered(0, "bench");
    std::atomic<bool> finished{false};
    std::jthread writer([&] {
        fake::Feeder feeder(tree.node(0), tree.path("sys/iio:device0/buffer/enable"));
        if (!feeder.connect()) return;
        const auto start = Clock::now();
        // Stamped as the device's own clock would: exactly 312.5 us apart from the start.
        const std::int64_t t0 =
            std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
                .count();
        std::string batch;
        for (long i = 0, batches = 0; !finished.load(); ++batches) {
            std::this_thread::sleep_until(start + std::chrono::milliseconds(10 * batches));
            batch.clear();
            for (int k = 0; k < 32; ++k, ++i) batch += fake::scan16(int(i % 2048), 0, -2048, t0 + i * 312'500);
            if (!feeder.write(batch)) break; // the recorder has ended
        }
    });
    const std::string data = (home.path() + "/data").toStdString();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setenv("HOME", home.path().toLocal8Bit().constData(), 1);
        ::setenv("XDG_DATA_HOME", data.c_str(), 1);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::dup2(null, 2);
        const std::string duration = std::to_string(int(seconds));
        ::execl(quivra.c_str(), quivra.c_str(), "record", "--accelerometer=iio:0", "--rate", "3200", "--duration",
                duration.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    const auto start = Clock::now();
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    f.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    finished = true;
    f.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    f.cpu = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
            + 1e-6 * double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
    const std::string path = data + "/Quivra/Quivra.sqlite";
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(db, "SELECT date_stamp FROM gdata ORDER BY date_stamp", -1, &st, nullptr);
        long long last = 0;
        while (st && sqlite3_step(st) == SQLITE_ROW) {
            const long long t = sqlite3_column_int64(st, 0);
            f.gaps += last != 0 && t - last > 400;
            last = t;
            ++f.rows;
        }
        sqlite3_finalize(st);
    }
    sqlite3_close(db);
    for (const char* suffix : {"", "-wal"}) {
        std::error_code ec;
        const auto size = std::filesystem::file_size(path + suffix, ec);
        if (!ec) f.bytes += size;
    }
    return f;
}

} // namespace

BENCHMARK_CAPTURE(DecodeScans, le_s16, "le:s16/16>>0");
BENCHMARK_CAPTURE(DecodeScans, le_s12_shifted, "le:s12/16>>4");
BENCHMARK_CAPTURE(DecodeScans, be_s16, "be:s16/16>>0");
BENCHMARK(CopyScans);

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    const char* asked = std::getenv("QUIVRA_BENCH_SECONDS");
    const double seconds = asked ? std::atof(asked) : 20.0;
    const auto [decoded, copied] = decodeAndCopyRates();
    const StreamFigures s = stream(seconds);
    const long total = std::lround(3200 * seconds);
    std::printf("\nbuffered IIO figures\n");
    std::printf("  decoding 16-bit x, y, z and time stamp: %.1f million scans a second  vs memcpy of the same bytes "
                "%.1f million (goal > 10 million)\n",
                decoded / 1e6, copied / 1e6);
    std::printf("  fake device at 3,200 a second for %.0f s: %ld of %ld scans read, %ld lost, %ld gaps%s%s\n", seconds,
                s.read, total, total - s.read, s.gaps, s.error.empty() ? "" : ", error: ", s.error.c_str());
    std::printf("  reading thread CPU: %.2f%% of a core (%.2f us a scan)  vs the fake device writing them %.2f%%\n",
                100 * s.readerCpu / s.seconds, s.read ? 1e6 * s.readerCpu / double(s.read) : 0.0,
                100 * s.writerCpu / s.seconds);
    const char* programAsked = std::getenv("QUIVRA_BENCH_PROGRAM_SECONDS");
    const double programSeconds = programAsked ? std::atof(programAsked) : 60.0;
    const std::string quivra = (std::filesystem::path(argv[0]).parent_path() / "quivra").string();
    const ProgramFigures p = wholeProgram(quivra, programSeconds);
    std::printf("  quivra record at 3,200 a second for %.0f s: %lld samples stored (%.0f a second), %lld gaps, exit %d;"
                " %.1f%% of a core for the whole program; store %.0f MB, growing %.0f MB an hour\n",
                programSeconds, p.rows, double(p.rows) / programSeconds, p.gaps, p.status,
                p.seconds > 0 ? 100 * p.cpu / p.seconds : 0.0, double(p.bytes) / 1e6,
                double(p.bytes) / 1e6 / programSeconds * 3600);
    const double bytes = bytesPerSample();
    std::printf("  on disk: %.1f bytes a sample in the store (row and index)  vs the device's 16-byte scan; "
                "%.0f MB an hour at 3,200 a second\n",
                bytes, bytes * 3200 * 3600 / 1e6);
    return 0;
}
