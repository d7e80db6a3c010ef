// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <QTest>

#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <optional>
#include <thread>

#include "FakeIio.h"
#include "platform/Log.h"
#include "platform/sensors/Accelerometer.h"
#include "platform/sensors/IioBufferSource.h"
#include "platform/sensors/IioScan.h"

using namespace sensors;
namespace fs = std::filesystem;

namespace {

constexpr double g = 9.80665;
const std::string dev0 = "sys/iio:device0/";

// Bytes from hex digits, spaces ignored.
std::string hex(std::string_view digits)
{
    std::string bytes;
    for (std::size_t i = 0; i < digits.size(); ++i)
        if (digits[i] != ' ') bytes += char(std::stoi(std::string(digits.substr(i++, 2)), nullptr, 16));
    return bytes;
}

void expectG(const Acceleration& a, double x, double y, double z)
{
    EXPECT_NEAR(a.x, x, 1e-12);
    EXPECT_NEAR(a.y, y, 1e-12);
    EXPECT_NEAR(a.z, z, 1e-12);
}

// Reads until `out` holds `count` readings (or ten seconds pass).
void readUntil(AccelerometerSource& source, std::vector<Acceleration>& out, std::size_t count)
{
    std::string error;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (out.size() < count && std::chrono::steady_clock::now() < deadline)
        ASSERT_TRUE(source.readStream(out, 50, error)) << error;
    ASSERT_EQ(out.size(), count);
}

} // namespace

TEST(IioScan, decodesEachStorageFormatWhereTheKernelPutsIt)
{
    struct Case {
        std::vector<std::array<const char*, 3>> channels; // name, index, type
        AxisCalibration calibration;
        std::string scan; // hand-made, hex
        double x, y, z;   // raw values expected, before calibration
        platform::Micros stamp;
    };
    const AxisCalibration plain;
    const std::vector<Case> cases = {
        // 12 bits shifted by 4 (the low bits hold something else); the time stamp aligned to 8.
        {{{"in_accel_x", "0", "le:s12/16>>4"},
          {"in_accel_y", "1", "le:s12/16>>4"},
          {"in_accel_z", "2", "le:s12/16>>4"},
          {"in_timestamp", "3", "le:s64/64>>0"}},
         {{0.0383, 0.0383, 0.0383}, {0, 0, 0}, plain.mount},
         "b7ff f37f 0f80 aaaa efcdab8967452301",
         -5 * 0.0383,
         2047 * 0.0383,
         -2048 * 0.0383,
         81985529216486},
        // Big-endian, no time stamp, channels in any order; a mount matrix that swaps x and y and
        // turns two axes over.
        {{{"in_accel_z", "2", "be:s16/16>>0"},
          {"in_accel_x", "0", "be:s16/16>>0"},
          {"in_accel_y", "1", "be:s16/16>>0"}},
         {{1, 1, 1}, {0, 0, 0}, {0, 1, 0, -1, 0, 0, 0, 0, -1}},
         "fed4 03e8 c000",
         1000,
         300,
         16384,
         0},
        {{{"in_accel_x", "0", "le:s32/32>>0"},
          {"in_accel_y", "1", "le:s32/32>>0"},
          {"in_accel_z", "2", "le:s32/32>>0"},
          {"in_timestamp", "3", "le:s64/64>>0"}},
         plain,
         "6079feff 40e20100 ffffffff 00000000 e803000000000000",
         -100000,
         123456,
         -1,
         1},
        // Unsigned with an offset: the top bit is no sign.
        {{{"in_accel_x", "0", "le:u16/16>>0"},
          {"in_accel_y", "1", "le:u16/16>>0"},
          {"in_accel_z", "2", "le:u16/16>>0"}},
         {{2, 2, 2}, {-32768, -32768, -32768}, plain.mount},
         "409c 0000 ffff",
         2 * 7232,
         2 * -32768,
         2 * 32767,
         0},
        // Padding: a byte between, a 32-bit element aligned after it, the time stamp last whatever
        // its index.
        {{{"in_timestamp", "4", "le:s64/64>>0"},
          {"in_accel_z", "3", "be:s16/16>>0"},
          {"in_temp", "1", "le:u8/8>>0"},
          {"in_accel_y", "2", "le:s32/32>>0"},
          {"in_accel_x", "0", "le:s16/16>>0"}},
         plain,
         "0a00 7fee f6ffffff 0014 eeee 00000000 10a4000000000000",
         10,
         -10,
         20,
         42},
        // Without a time stamp the scan is still padded to its largest element.
        {{{"in_accel_x", "0", "le:s32/32>>0"},
          {"in_accel_y", "1", "le:s16/16>>0"},
          {"in_accel_z", "2", "le:s16/16>>0"},
          {"in_temp", "3", "le:u8/8>>0"}},
         plain,
         "feffffff 0200 0300 7f eeeeee",
         -2,
         2,
         3,
         0},
    };
    for (std::size_t n = 0; n < cases.size(); ++n) {
        const Case& c = cases[n];
        std::vector<ScanChannel> channels;
        std::string error;
        for (const auto& [name, index, type] : c.channels) {
            channels.push_back({name, std::atoi(index), {}, 0});
            ASSERT_TRUE(parseScanType(type, channels.back().type, error)) << error;
        }
        const std::size_t size = layOutScan(channels, error);
        const std::string scan = hex(c.scan);
        ASSERT_EQ(size, scan.size()) << "case " << n;
        std::array<const ScanChannel*, 3> axes{};
        const ScanChannel* stamp = nullptr;
        for (const ScanChannel& channel : channels) {
            for (int axis = 0; axis < 3; ++axis)
                if (channel.name == std::string("in_accel_") + char('x' + axis)) axes[axis] = &channel;
            if (channel.name == "in_timestamp") stamp = &channel;
        }
        // Two whole scans and the start of a third.
        const std::string bytes = scan + scan + scan.substr(0, 3);
        std::vector<Acceleration> out;
        EXPECT_EQ(ScanDecoder(size, axes, stamp, c.calibration, 0)
                      .decode(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), out),
                  2 * size);
        ASSERT_EQ(out.size(), 2u) << "case " << n;
        expectG(out[1], c.x / g, c.y / g, c.z / g);
        EXPECT_EQ(out[1].timestamp, c.stamp) << "case " << n;
    }

    // A repeated element is aligned to its whole size.
    std::vector<ScanChannel> repeated{{"in_a", 0, {}, 0}, {"in_quat", 1, {}, 0}};
    std::string error;
    ASSERT_TRUE(parseScanType("le:s16/16>>0", repeated[0].type, error));
    ASSERT_TRUE(parseScanType("le:s16/16X4>>0", repeated[1].type, error));
    EXPECT_EQ(layOutScan(repeated, error), 16u);
    EXPECT_EQ(repeated[1].offset, 8u);
    // What the kernel never writes is refused with the reason.
    ScanType type;
    for (const char* bad :
         {"le:s16/24>>0", "le:s20/16>>0", "le:s12/16>>8", "xe:s16/16>>0", "le:q16/16", "le:s16/16>>", ""}) {
        error.clear();
        EXPECT_FALSE(parseScanType(bad, type, error)) << bad;
        EXPECT_NE(error.find(std::string("'") + bad + "'"), std::string::npos) << error;
    }
    repeated[1].index = 0;
    EXPECT_EQ(layOutScan(repeated, error), 0u);
    EXPECT_EQ(error, "in_a and in_quat share index 0");
}

TEST(IioBufferSource, setsTheDeviceUpReadsExactReadingsAndTimeStampsAndPutsEverythingBack)
{
    fake::Tree tree;
    const std::string folder = tree.addBuffered(0, "adxl345");
    tree.write(dev0 + "in_accel_mount_matrix", "0, 1, 0; -1, 0, 0; 0, 0, -1\n");
    const auto before = tree.attributes();
    std::string error;
    auto source = makeAccelerometerSource("iio:" + folder, error);
    ASSERT_TRUE(source) << error;
    EXPECT_EQ(source->description(), "IIO accelerometer iio:device0 (adxl345), buffered");
    EXPECT_EQ(source->availableRates(), (std::vector<double>{12.5, 25, 50, 100, 200, 400, 800, 1600, 3200}));

    ASSERT_TRUE(source->startStreaming(3000, error)) << error;
    for (const auto& [file, text] : std::map<std::string, std::string>{{"sampling_frequency", "3200"},
                                                                       {"current_timestamp_clock", "realtime"},
                                                                       {"trigger/current_trigger", "adxl345-dev0"},
                                                                       {"scan_elements/in_accel_x_en", "1"},
                                                                       {"scan_elements/in_accel_y_en", "1"},
                                                                       {"scan_elements/in_accel_z_en", "1"},
                                                                       {"scan_elements/in_timestamp_en", "1"},
                                                                       {"scan_elements/in_temp_en", "0"},
                                                                       {"buffer/length", "3200"},
                                                                       {"buffer/watermark", "32"},
                                                                       {"buffer/enable", "1"}})
        EXPECT_EQ(tree.read(dev0 + file), text + "\n") << file;

    // Scans split anywhere by the node come out whole, with the kernel's time stamps.
    fake::Feeder feeder(tree.node(0), tree.path(dev0 + "buffer/enable"));
    ASSERT_TRUE(feeder.connect());
    const std::int64_t t0 = 1'733'612'345'678'901'234;
    const int raw[4][3] = {{100, -200, -1000}, {-32768, 32767, 0}, {1, 2, 3}, {0, 0, -2048}};
    std::string scans;
    for (int i = 0; i < 4; ++i) scans += fake::scan16(raw[i][0], raw[i][1], raw[i][2], t0 + i * 312'500);
    std::vector<Acceleration> got;
    ASSERT_TRUE(feeder.write(scans.substr(0, 23)));
    readUntil(*source, got, 1);
    ASSERT_TRUE(feeder.write(scans.substr(23)));
    readUntil(*source, got, 4);
    for (int i = 0; i < 4; ++i) {
        expectG(got[i], raw[i][1] * 0.5 / g, -raw[i][0] * 0.5 / g, -raw[i][2] * 0.5 / g);
        EXPECT_EQ(got[i].timestamp, (t0 + i * 312'500) / 1000) << i;
    }

    source->stopStreaming();
    EXPECT_EQ(tree.attributes(), before);
    // Started again at another rate, and let go of while streaming.
    ASSERT_TRUE(source->startStreaming(30, error)) << error;
    EXPECT_EQ(tree.read(dev0 + "sampling_frequency"), "25\n");
    EXPECT_EQ(tree.read(dev0 + "buffer/watermark"), "1\n");
    source.reset();
    EXPECT_EQ(tree.attributes(), before);
}

TEST(IioBufferSource, putsAClockItMayNotChangeOnTheWallClockAndSaysHowToGetAccessToTheNode)
{
    fake::Tree tree;
    tree.addBuffered(0, "bmi160");
    const fs::path clock = tree.path(dev0 + "current_timestamp_clock");
    fs::permissions(clock, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    fake::WithoutOverride unprivileged;
    ASSERT_TRUE(unprivileged.ok());
    std::string error;
    auto source = makeAccelerometerSource("iio", error);
    ASSERT_TRUE(source) << error;
    ASSERT_TRUE(source->startStreaming(100, error)) << error;
    EXPECT_EQ(tree.read(dev0 + "current_timestamp_clock"), "monotonic\n");
    fake::Feeder feeder(tree.node(0), tree.path(dev0 + "buffer/enable"));
    ASSERT_TRUE(feeder.connect());
    timespec monotonic{};
    clock_gettime(CLOCK_MONOTONIC, &monotonic);
    const std::int64_t now = std::int64_t(monotonic.tv_sec) * 1'000'000'000 + monotonic.tv_nsec;
    ASSERT_TRUE(feeder.write(fake::scan16(1, 2, 3, now) + fake::scan16(1, 2, 3, now + 10'000'000)));
    std::vector<Acceleration> got;
    readUntil(*source, got, 2);
    EXPECT_NEAR(double(got[0].timestamp), double(platform::Clock::systemNow()), 5e6);
    EXPECT_EQ(got[1].timestamp - got[0].timestamp, 10'000);
    source.reset();

    // A node the user may not open: one line saying what gives access; polled meanwhile.
    fs::permissions(tree.node(0), fs::perms::none);
    std::vector<std::string> log;
    platform::setLogSink([&](std::string_view line) { log.emplace_back(line); });
    source = makeAccelerometerSource("iio:0", error);
    platform::setLogSink({});
    ASSERT_TRUE(source) << error;
    EXPECT_EQ(source->description(), "IIO accelerometer iio:device0 (bmi160), polled");
    ASSERT_EQ(log.size(), 1u);
    EXPECT_TRUE(log[0].starts_with("IIO accelerometer iio:device0 (bmi160): reading by polling, not through its "
                                   "buffer: no access to "
                                   + tree.node(0) + " (Permission denied): a udev rule"))
        << log[0];
    EXPECT_NE(log[0].find("GROUP=\"iio\""), std::string::npos) << log[0];
    // The advice names what there is to read: the README's section.
    EXPECT_NE(log[0].find("see \"Access for a user\" in Quivra's README"), std::string::npos) << log[0];
}

TEST(IioBufferSource, refusesScansThatDoNotMatchTheirChannelsAndPollsWhatHasNoUsableBuffer)
{
    struct Case {
        const char* file;
        const char* text;
        const char* said;
    };
    for (const Case& c :
         {Case{"scan_elements/in_accel_y_type", "le:s16/24>>0",
               "scan_elements/in_accel_y: 'le:s16/24>>0' stores its value in 24 bits, not 8, 16, 32 or 64"},
          Case{"scan_elements/in_accel_z_index", "1",
               "its scans cannot be laid out: in_accel_y and in_accel_z share index 1"},
          Case{"buffer/bytes_per_datum", "12", "its scans are 12 bytes, but its channels make 16"},
          // Taken on trust, these would put the axes in another order, or read one
          // scan as two halves of numbers.
          Case{"scan_elements/in_accel_z_index", "-1",
               "scan_elements/in_accel_z: its index '-1' is not a whole number from 0 to 2147483647"},
          Case{"scan_elements/in_accel_x_index", "99999999999",
               "scan_elements/in_accel_x: its index '99999999999' is not a whole number from 0 to 2147483647"},
          Case{"scan_elements/in_accel_y_index", "1.5",
               "scan_elements/in_accel_y: its index '1.5' is not a whole number from 0 to 2147483647"},
          Case{"scan_elements/in_accel_x_type", "le:s64/64>>0",
               "in_accel_x is stored as le:s64/64>>0: an accelerometer axis takes at most 32 bits, once"},
          Case{"scan_elements/in_accel_y_type", "le:s16/16X2>>0",
               "in_accel_y is stored as le:s16/16X2>>0: an accelerometer axis takes at most 32 bits, once"},
          Case{"scan_elements/in_timestamp_type", "le:s32/32>>0",
               "in_timestamp is stored as le:s32/32>>0: a time stamp is a signed 64-bit value"}}) {
        fake::Tree tree;
        tree.addBuffered(0, "fake");
        tree.write(dev0 + c.file, std::string(c.text) + "\n");
        const auto before = tree.attributes();
        std::string error;
        auto source = makeAccelerometerSource("iio:device0", error);
        ASSERT_TRUE(source) << error;
        EXPECT_FALSE(source->startStreaming(100, error));
        EXPECT_EQ(error, c.said);
        EXPECT_EQ(tree.attributes(), before) << c.file;
    }

    fake::Tree tree;
    for (const char* axis : {"x", "y", "z"})
        tree.write(std::string("sys/iio:device0/in_accel_") + axis + "_raw", "1\n");
    tree.write("sys/iio:device0/name", "plain\n");
    tree.addBuffered(2, "lonely");
    fs::remove_all(tree.path("sys/trigger3"));
    tree.addBuffered(4, "taken");
    tree.write("sys/iio:device4/buffer/enable", "1\n");
    std::vector<std::string> log;
    platform::setLogSink([&](std::string_view line) { log.emplace_back(line); });
    std::string error;
    for (const char* device : {"0", "2", "4"}) {
        auto source = makeAccelerometerSource(std::string("iio:") + device, error);
        ASSERT_TRUE(source) << error;
        EXPECT_TRUE(source->description().ends_with(", polled")) << source->description();
        EXPECT_FALSE(source->isStreaming());
    }
    platform::setLogSink({});
    EXPECT_EQ(log, (std::vector<std::string>{
                       "IIO accelerometer iio:device2 (lonely): reading by polling, not through its buffer: its "
                       "buffer needs a trigger, and it has none of its own and none is set",
                       "IIO accelerometer iio:device4 (taken): reading by polling, not through its buffer: its "
                       "buffer is already enabled, by another program (iio-sensor-proxy, perhaps) or by one that "
                       "ended without disabling it (then write 0 to "
                           + tree.path("sys/iio:device4/buffer/enable") + ")"}));
}

TEST(IioBufferSource, takesOverABufferThatAKilledQuivraLeftEnabled)
{
    fake::Tree tree;
    tree.addBuffered(0, "fake");
    // As a Quivra killed while recording at 3,200 a second leaves it: its channels alone, the
    // device's own trigger, enabled; and nobody reading the node.
    for (const char* channel : {"in_accel_x", "in_accel_y", "in_accel_z", "in_timestamp"})
        tree.write(dev0 + "scan_elements/" + channel + "_en", "1\n");
    tree.write(dev0 + "scan_elements/in_temp_en", "0\n");
    tree.write(dev0 + "trigger/current_trigger", "fake-dev0\n");
    tree.write(dev0 + "sampling_frequency", "3200\n");
    tree.write(dev0 + "buffer/enable", "1\n");
    std::vector<std::string> log;
    platform::setLogSink([&](std::string_view line) { log.emplace_back(line); });
    std::string error;
    auto source = makeAccelerometerSource("iio:0", error);
    platform::setLogSink({});
    ASSERT_TRUE(source) << error;
    EXPECT_EQ(source->description(), "IIO accelerometer iio:device0 (fake), buffered");
    const auto rates = source->availableRates();
    EXPECT_NE(std::find(rates.begin(), rates.end(), 3200.0), rates.end());
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0], "IIO accelerometer iio:device0 (fake): its buffer was left enabled by a Quivra that is no longer "
                      "running (nobody reads "
                          + tree.node(0) + ", and it holds Quivra's channels and trigger): taken over");

    ASSERT_TRUE(source->startStreaming(3200, error)) << error;
    fake::Feeder feeder(tree.node(0), tree.path(dev0 + "buffer/enable"));
    ASSERT_TRUE(feeder.connect());
    ASSERT_TRUE(feeder.write(fake::scan16(1, 2, 3, 1000) + fake::scan16(4, 5, 6, 2000)));
    std::vector<Acceleration> got;
    readUntil(*source, got, 2);
    source.reset();
    EXPECT_EQ(tree.read(dev0 + "buffer/enable"), "0\n"); // and left disabled
}

TEST(IioBufferSource, aDeviceLeftStreamingIsPutBackWhenTheProgramExits)
{
    // The child, a fresh run of this test, streams from the parent's device, found through the
    // environment it inherits.
    std::optional<fake::Tree> tree;
    if (!std::getenv("QUIVRA_TEST_PARENT_TREE")) {
        tree.emplace();
        tree->addBuffered(0, "fake");
    }
    const auto before = tree ? tree->attributes() : std::map<std::string, std::string>{};
    setenv("QUIVRA_TEST_PARENT_TREE", "1", 1);
    EXPECT_EXIT(
        {
            std::string error;
            auto source = makeAccelerometerSource("iio:0", error);
            const bool started = source && source->startStreaming(100, error);
            source.release(); // as the shared accelerometer's source, never destroyed
            std::exit(started ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
    unsetenv("QUIVRA_TEST_PARENT_TREE");
    ASSERT_TRUE(tree);
    EXPECT_EQ(tree->attributes(), before);
}

namespace {

// Counts what the accelerometer delivers, and the readings not stamped as the n-th scan must be.
struct Counter : sensors::AccelerometerListener {
    void accelerometerDidAccelerate(Accelerometer*, const Acceleration& a) override
    {
        if (a.timestamp != expected(count)) ++misplaced;
        ++count;
    }
    std::function<platform::Micros(long)> expected;
    long count = 0, misplaced = 0;
};

class IioBufferCapture : public ::testing::Test {
protected:
    void SetUp() override { accelerometer->setListener(&counter); }
    void TearDown() override
    {
        owned.reset();
        platform::setLogSink({});
    }
    Counter counter;
    fake::Tree tree;
    std::unique_ptr<Accelerometer> owned = std::make_unique<Accelerometer>();
    Accelerometer* accelerometer = owned.get();
};

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
           + 1e-6 * double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
}

} // namespace

TEST_F(IioBufferCapture, aDeviceThatGoesAwayIsReportedOnceAfterEverythingItGave)
{
    tree.addBuffered(0, "fake");
    const auto before = tree.attributes();
    std::string error;
    auto source = makeAccelerometerSource("iio:device0", error);
    ASSERT_TRUE(source) << error;
    std::vector<std::string> log;
    platform::setLogSink([&](std::string_view line) { log.emplace_back(line); });
    const std::int64_t t0 = 1'700'000'000'000'000'000;
    counter.expected = [&](long i) { return (t0 + i * 1'000'000) / 1000; };
    std::jthread writer([&] {
        fake::Feeder feeder(tree.node(0), tree.path(dev0 + "buffer/enable"));
        std::string scans;
        for (int i = 0; i < 1000; ++i) scans += fake::scan16(i, -i, 7, t0 + i * 1'000'000);
        if (feeder.connect()) feeder.write(scans + "\x01\x02\x03\x04\x05");
    });
    accelerometer->setSource(std::move(source));
    accelerometer->setUpdateInterval(1.0 / 1000);
    accelerometer->setCapturing(true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !log.empty(); }, 30'000));
    // Stopped after the failure: the device is as it was.
    EXPECT_TRUE(QTest::qWaitFor([&] { return tree.attributes() == before; }, 10'000));
    EXPECT_EQ(counter.count, 1000);
    EXPECT_EQ(counter.misplaced, 0);
    EXPECT_EQ(log, std::vector<std::string>{
                       "accelerometer failed: IIO accelerometer iio:device0 (fake), buffered: the device is gone (its "
                       "buffer was closed); the last 5 bytes, an incomplete scan, were dropped"});
    EXPECT_FALSE(accelerometer->isCapturing());
}

TEST_F(IioBufferCapture, keepsUpWith3200ScansASecondWithoutAGap)
{
    // Five seconds by default; QUIVRA_IIO_SECONDS sets another length (the benchmarks run a
    // minute). The fake device sleeps between its batches, so the run costs little but its time.
    const char* overridden = std::getenv("QUIVRA_IIO_SECONDS");
    const double seconds = overridden ? std::atof(overridden) : 5.0;
    const long total = std::lround(3200 * seconds);
    tree.addBuffered(0, "fast");
    std::string error;
    auto source = makeAccelerometerSource("iio:fast", error);
    ASSERT_TRUE(source) << error;
    const std::int64_t t0 = 1'700'000'000'000'000'000;
    counter.expected = [&](long i) { return (t0 + i * 312'500) / 1000; };
    std::mutex lock;
    std::condition_variable_any done;
    std::jthread writer([&](std::stop_token stop) {
        fake::Feeder feeder(tree.node(0), tree.path(dev0 + "buffer/enable"));
        if (!feeder.connect()) return;
        const auto start = std::chrono::steady_clock::now();
        std::string batch;
        for (long i = 0, batches = 0; i < total && !stop.stop_requested(); ++batches) {
            // Every 10 ms, the scans that came due, as a device with a watermark of 32 hands them out.
            std::this_thread::sleep_until(start + std::chrono::milliseconds(10 * batches));
            batch.clear();
            for (; i < total && i < (batches + 1) * 32; ++i)
                batch += fake::scan16(int(i % 2048), 0, -2048, t0 + i * 312'500);
            if (!feeder.write(batch)) return;
        }
        std::unique_lock held(lock);
        done.wait(held, stop, [] { return false; }); // the node stays open until the end
    });
    const double cpuBefore = cpuSeconds();
    const auto overflowedBefore = accelerometer->overflowedReadings();
    const auto started = std::chrono::steady_clock::now();
    accelerometer->setSource(std::move(source));
    accelerometer->setUpdateInterval(1.0 / 3200);
    accelerometer->setCapturing(true);
    EXPECT_TRUE(QTest::qWaitFor([&] { return counter.count >= total; }, int(seconds * 1000) + 60'000));
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const double cpu = cpuSeconds() - cpuBefore;
    accelerometer->setCapturing(false);
    // The node is closed only once the capture has stopped: closing it is the device going away.
    EXPECT_TRUE(QTest::qWaitFor([&] { return tree.read(dev0 + "buffer/enable") == "0\n"; }, 10'000));
    writer.request_stop();
    EXPECT_EQ(counter.count, total);
    EXPECT_EQ(counter.misplaced, 0);
    EXPECT_EQ(accelerometer->overflowedReadings(), overflowedBefore);
    std::printf("[ IIO      ] %ld scans at 3200/s in %.1f s, %.1f%% of a core (fake device, capture and window)\n",
                counter.count, elapsed, 100 * cpu / elapsed);
}
