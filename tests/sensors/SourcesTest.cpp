// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QTemporaryDir>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "platform/sensors/IioSource.h"
#include "platform/sensors/ReplaySource.h"
#include "platform/sensors/SimulatedSource.h"

using namespace sensors;
namespace fs = std::filesystem;

namespace {

constexpr double g = 9.80665;

// A temporary folder; as an IIO tree it stands in for /sys/bus/iio/devices.
class Folder {
public:
    Folder() { qputenv("QUIVRA_IIO_ROOT", dir_.path().toLocal8Bit()); }
    ~Folder() { qunsetenv("QUIVRA_IIO_ROOT"); }
    std::string write(const std::string& file, const std::string& bytes) const
    {
        const fs::path path = fs::path(dir_.path().toStdString()) / file;
        fs::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << bytes;
        return path.string();
    }
    void addAccelerometer(const std::string& device, const std::string& name, int x, int y, int z,
                          const std::string& scale = "1") const
    {
        write(device + "/name", name + "\n");
        write(device + "/in_accel_x_raw", std::to_string(x) + "\n");
        write(device + "/in_accel_y_raw", std::to_string(y) + "\n");
        write(device + "/in_accel_z_raw", std::to_string(z) + "\n");
        write(device + "/in_accel_scale", scale + "\n");
    }
    std::string path(const std::string& file = {}) const
    {
        return (fs::path(dir_.path().toStdString()) / file).string();
    }

private:
    QTemporaryDir dir_;
};

Acceleration readOnce(AccelerometerSource& source)
{
    Acceleration a;
    std::string error;
    EXPECT_TRUE(source.read(a, error)) << error;
    return a;
}

void expectReading(const Acceleration& a, double x, double y, double z)
{
    EXPECT_NEAR(a.x, x, 1e-12);
    EXPECT_NEAR(a.y, y, 1e-12);
    EXPECT_NEAR(a.z, z, 1e-12);
}

// ASCII text as UTF-16 little-endian with a byte-order mark, as the program exports.
std::string utf16le(const std::string& text)
{
    std::string bytes = "\xFF\xFE";
    for (char c : text) bytes += {c, '\0'};
    return bytes;
}

} // namespace

TEST(IioSource, appliesOffsetScaleAndMountMatrixAndReadsAfreshEachTime)
{
    Folder tree;
    tree.addAccelerometer("iio:device0", "bmi160", 100, -200, -1000, "0.0098");
    tree.write("iio:device0/in_accel_offset", "5");
    std::string error;
    auto source = IioSource::open("iio:device0", error);
    ASSERT_TRUE(source) << error;
    EXPECT_EQ(source->description(), "IIO accelerometer iio:device0 (bmi160), polled");
    // Face up a device reads about -1 g on z already: no sign flip.
    expectReading(readOnce(*source), 105 * 0.0098 / g, -195 * 0.0098 / g, -995 * 0.0098 / g);
    tree.write("iio:device0/in_accel_x_raw", "-5");
    EXPECT_NEAR(readOnce(*source).x, 0.0, 1e-12);

    // Per-axis values win over shared ones; the matrix turns the vector, row by row.
    for (const char* matrixFile : {"in_accel_mount_matrix", "mount_matrix"}) {
        Folder turned;
        turned.addAccelerometer("iio:device0", "accel", 1, 2, 3);
        turned.write("iio:device0/in_accel_y_scale", "2");
        turned.write("iio:device0/in_accel_z_offset", "-1");
        turned.write(std::string("iio:device0/") + matrixFile, "0, 1, 0; -1, 0, 0; 0, 0, -1\n");
        source = IioSource::open("iio:device0", error);
        ASSERT_TRUE(source) << matrixFile << ": " << error;
        expectReading(readOnce(*source), 4 / g, -1 / g, -2 / g);
    }
}

TEST(IioSource, findsAccelerometersByNumberAndOpensThemByAnyName)
{
    Folder tree;
    tree.addAccelerometer("iio:device10", "second", 0, 0, 0);
    tree.addAccelerometer("iio:device2", "first", 0, 0, 0);
    tree.write("iio:device1/in_anglvel_x_raw", "1"); // a gyroscope
    tree.write("trigger0/name", "trigger");
    std::string error;
    auto first = IioSource::openFirst(error);
    ASSERT_TRUE(first) << error;
    EXPECT_EQ(first->description(), "IIO accelerometer iio:device2 (first), polled");
    for (const std::string& name :
         std::vector<std::string>{"iio:device10", "device10", "10", "second", tree.path("iio:device10") + "/"}) {
        auto source = IioSource::open(name, error);
        ASSERT_TRUE(source) << name << ": " << error;
        EXPECT_EQ(source->description(), "IIO accelerometer iio:device10 (second), polled");
    }
    EXPECT_FALSE(IioSource::open("iio:device1", error));
    EXPECT_EQ(error, "no IIO accelerometer 'iio:device1'");
    tree.write("iio:device2/in_accel_mount_matrix", "1, 0, 0; 0, 1, 0");
    EXPECT_FALSE(IioSource::open("iio:device2", error));
    EXPECT_NE(error.find("in_accel_mount_matrix"), std::string::npos) << error;
}

TEST(IioSource, failsWithAReasonWhenTheDeviceStopsAnswering)
{
    Folder tree;
    tree.addAccelerometer("iio:device0", "accel", 1, 2, 3);
    std::string error;
    auto source = IioSource::open("iio:device0", error);
    ASSERT_TRUE(source) << error;
    Acceleration a;
    tree.write("iio:device0/in_accel_y_raw", "garbage");
    EXPECT_FALSE(source->read(a, error));
    EXPECT_NE(error.find("in_accel_y_raw"), std::string::npos) << error;
    // A FIFO in place of an attribute is refused, not waited on.
    fs::remove(tree.path("iio:device0/in_accel_y_raw"));
    ASSERT_EQ(::mkfifo(tree.path("iio:device0/in_accel_y_raw").c_str(), 0600), 0);
    EXPECT_FALSE(source->read(a, error));
    EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
    fs::remove_all(tree.path("iio:device0"));
    EXPECT_FALSE(source->read(a, error));
    EXPECT_NE(error.find("in_accel_x_raw"), std::string::npos) << error;
}

TEST(ReplaySource, playsExportFilesAndPlainTextInALoop)
{
    Folder folder;
    for (const std::string eol : {"\n", "\r\n"}) {
        const std::string path =
            folder.write("2024-03-05-10-11-12.asc", utf16le("Date Code\tG-Force X [g]\tG-Force Y [g]\tG-Force Z [g]"
                                                            + eol + "2024-03-05 10:11:12.000\t0.01\t-0.02\t-1.003" + eol
                                                            + "2024-03-05 10:11:12.033\t1e-05\t0\t-0.9871" + eol));
        std::string error;
        auto source = ReplaySource::load(path, error);
        ASSERT_TRUE(source) << error;
        EXPECT_EQ(source->description(), "replay of 2024-03-05-10-11-12.asc");
        expectReading(readOnce(*source), 0.01, -0.02, -1.003);
        expectReading(readOnce(*source), 1e-05, 0, -0.9871);
        expectReading(readOnce(*source), 0.01, -0.02, -1.003);
    }

    const std::string path =
        folder.write("run.txt", "# x y z in g\n0.1\t0.2\t-1\n\n0.3, -0.4 ,-0.9\n  +0.5   0.6  -1.1  \r\n7,8,9");
    std::string error;
    auto source = ReplaySource::load(path, error);
    ASSERT_TRUE(source) << error;
    EXPECT_EQ(source->description(), "replay of run.txt");
    expectReading(readOnce(*source), 0.1, 0.2, -1);
    expectReading(readOnce(*source), 0.3, -0.4, -0.9);
    expectReading(readOnce(*source), 0.5, 0.6, -1.1);
    expectReading(readOnce(*source), 7, 8, 9);
    expectReading(readOnce(*source), 0.1, 0.2, -1);
}

TEST(ReplaySource, rejectsBadLinesByNumberAndFilesWithoutReadings)
{
    Folder folder;
    std::string error;
    for (const char* bad : {"1 2", "1 2 3 4", "1,,3", "1 2 nan", "1 inf 3", "a b c", "0x1 0 0"}) {
        const std::string path = folder.write("run.txt", std::string("# z\n0 0 -1\n\n0 0 -1\n0 0 -1\n0 0 -1\n") + bad);
        EXPECT_FALSE(ReplaySource::load(path, error)) << bad;
        EXPECT_EQ(error, "replay file " + path + ", line 7: expected three numbers") << bad;
    }
    const std::string header = "Date Code\tG-Force X [g]\tG-Force Y [g]\tG-Force Z [g]\n";
    std::string path = folder.write("bad.asc", utf16le(header + "2024-03-05 10:11:12.000\t1\t2\t3\n1\t2\t3\n"));
    EXPECT_FALSE(ReplaySource::load(path, error));
    EXPECT_EQ(error, "replay file " + path + ", line 3: expected a date code and three numbers");

    for (const std::string& empty : {std::string(), std::string("# only\n\n"), utf16le(header)}) {
        path = folder.write("empty.txt", empty);
        EXPECT_FALSE(ReplaySource::load(path, error));
        EXPECT_EQ(error, "replay file " + path + " has no readings");
    }
    EXPECT_FALSE(ReplaySource::load(folder.path("missing.txt"), error));
    EXPECT_NE(error.find(folder.path("missing.txt")), std::string::npos) << error;

    // What never ends is refused at once, in one line: a device, a FIFO without a writer, a line
    // without an end.
    EXPECT_FALSE(ReplaySource::load("/dev/zero", error));
    EXPECT_EQ(error, "cannot read replay file /dev/zero: not a regular file");
    ASSERT_EQ(::mkfifo(folder.path("fifo").c_str(), 0600), 0);
    EXPECT_FALSE(ReplaySource::load(folder.path("fifo"), error));
    EXPECT_EQ(error, "cannot read replay file " + folder.path("fifo") + ": not a regular file");
    path = folder.write("long.txt", "0 0 -1\n" + std::string(5000, '1'));
    EXPECT_FALSE(ReplaySource::load(path, error));
    EXPECT_EQ(error, "replay file " + path + ", line 2: longer than 4096 characters");
}

TEST(SimulatedSource, readingIsAFunctionOfTheClock)
{
    const platform::Micros when = 1'733'612'345'678'901;
    platform::Clock::setSource([&] { return when; });
    SimulatedSource first, second;
    const Acceleration a = readOnce(first);
    for (const Acceleration& b : {readOnce(first), readOnce(second), SimulatedSource::at(when)})
        expectReading(b, a.x, a.y, a.z);
    platform::Clock::setSource({});
    EXPECT_NE(SimulatedSource::at(when + 10'000).x, a.x);
    EXPECT_EQ(first.description(), "simulated vibration");
}

TEST(SimulatedSource, vibratesModestlyAroundGravityOnZWithoutJumps)
{
    // Ten minutes at 100 readings per second.
    const platform::Micros start = 1'733'612'345'000'000;
    const int count = 60'000;
    double sum[3] = {}, squares[3] = {};
    for (int i = 0; i < count; ++i) {
        const Acceleration a = SimulatedSource::at(start + platform::Micros(i) * 10'000);
        const double v[3] = {a.x, a.y, a.z + 1.0};
        for (int axis = 0; axis < 3; ++axis) {
            ASSERT_LT(std::abs(v[axis]), 0.6) << "axis " << axis;
            sum[axis] += v[axis];
            squares[axis] += v[axis] * v[axis];
        }
    }
    for (int axis = 0; axis < 3; ++axis) {
        const double mean = sum[axis] / count;
        EXPECT_NEAR(mean, 0.0, 0.02) << "axis " << axis;
        // Visible on a trace of 50 points per g, nowhere near full scale.
        EXPECT_NEAR(std::sqrt(squares[axis] / count - mean * mean), 0.15, 0.1) << "axis " << axis;
    }
    // The signal is computed modulo one hour; it must not jump there.
    for (const platform::Micros edge : {0LL, 3'600'000'000LL * 481'559}) {
        const Acceleration before = SimulatedSource::at(edge - 1), after = SimulatedSource::at(edge);
        EXPECT_NEAR(before.x, after.x, 0.04); // the noise alone may differ by 0.03
        EXPECT_NEAR(before.y, after.y, 0.04);
        EXPECT_NEAR(before.z, after.z, 0.04);
    }
}

TEST(AccelerometerOption, eachKindMakesItsSourceAndBadOnesGiveOneClearLine)
{
    Folder folder;
    std::string error;
    EXPECT_FALSE(makeAccelerometerSource("foo", error));
    EXPECT_EQ(error, "unknown accelerometer 'foo' (expected auto, iio[:DEVICE], simulated or replay:FILE)");
    for (const char* bad : {"", "Simulated", "iio:", "replay:", "replay", "auto:x"}) {
        error.clear();
        EXPECT_FALSE(makeAccelerometerSource(bad, error)) << bad;
        EXPECT_TRUE(!error.empty() && error.find('\n') == std::string::npos) << bad;
    }
    EXPECT_FALSE(makeAccelerometerSource("iio", error));
    EXPECT_EQ(error, "no IIO accelerometer found");
    EXPECT_FALSE(makeAccelerometerSource("iio:device7", error));
    EXPECT_EQ(error, "no IIO accelerometer 'iio:device7'");
    EXPECT_FALSE(makeAccelerometerSource("replay:" + folder.path("none.txt"), error));

    auto describe = [&](const std::string& option) {
        auto source = makeAccelerometerSource(option, error);
        return source ? source->description() : "error: " + error;
    };
    EXPECT_EQ(describe("simulated"), "simulated vibration");
    EXPECT_EQ(describe("auto"), "simulated vibration");
    folder.addAccelerometer("iio:device3", "bmi160", 0, 0, -1000);
    for (const char* option : {"auto", "iio", "iio:device3", "iio:iio:device3"})
        EXPECT_EQ(describe(option), "IIO accelerometer iio:device3 (bmi160), polled") << option;
    folder.write("run.txt", "0 0 -1\n");
    EXPECT_EQ(describe("replay:" + folder.path("run.txt")), "replay of run.txt");
}
