// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/AscFile.h"

#include "core/FormatSupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

using platform::AscFile;
using platform::ascFileName;
using platform::Micros;

namespace {

const std::string kHeader = "Date Code\tG-Force X [g]\tG-Force Y [g]\tG-Force Z [g]\n";

// The file's text, checked to be FF FE and then ASCII characters each followed by a zero byte.
std::string decoded(const std::string& bytes)
{
    if (bytes.size() < 2 || bytes.compare(0, 2, "\xFF\xFE") != 0 || bytes.size() % 2 != 0) {
        ADD_FAILURE() << "not UTF-16LE with a byte-order mark, " << bytes.size() << " bytes";
        return {};
    }
    std::string text;
    for (std::size_t i = 2; i < bytes.size(); i += 2) {
        if (bytes[i + 1] != 0 || static_cast<unsigned char>(bytes[i]) > 0x7F) {
            ADD_FAILURE() << "not ASCII at byte " << i;
            return {};
        }
        text.push_back(bytes[i]);
    }
    return text;
}

std::string exported(const std::string& folder, Micros start,
                     std::initializer_list<std::tuple<Micros, float, float, float>> samples)
{
    AscFile file(folder, start);
    EXPECT_TRUE(file.open()) << file.error();
    for (auto [t, x, y, z] : samples) file.addSample(t, x, y, z);
    EXPECT_TRUE(file.commit()) << file.error();
    EXPECT_EQ(file.linesWritten(), samples.size());
    return file.path();
}

} // namespace

TEST(AscFile, EmptySessionIsTheHeaderAlone)
{
    LocalZone zone(kBerlin);
    TempFolder folder;
    Micros start = localMicros(2011, 3, 5, 14, 7, 9, 600'000);
    std::string path = exported(folder.path(), start, {});

    EXPECT_EQ(path, folder.path() + "/2011-03-05-14-07-09.asc");
    std::string expected = "\xFF\xFE";
    for (char c : kHeader) expected += std::string{c, '\0'};
    std::string bytes = readBytes(path);
    EXPECT_EQ(bytes.size(), 106u);
    EXPECT_EQ(bytes, expected);
    EXPECT_EQ(folder.listing(), "2011-03-05-14-07-09.asc\n");
}

TEST(AscFile, WritesEverySampleAsALineInLocalTime)
{
    LocalZone zone(kBerlin);
    TempFolder folder;
    Micros start = localMicros(2011, 3, 5, 14, 7, 9);
    std::string path = exported(folder.path(), start,
                                {{localMicros(2011, 3, 5, 14, 7, 9, 250'000), 0.5f, -0.015625f, 0.00001f},
                                 {localMicros(2011, 3, 5, 14, 7, 10, 999'900), 0.0f, -0.0f, 1.0f / 3.0f},
                                 {localMicros(2011, 3, 5, 14, 7, 10, 999'900), 1e7f, -2.0f, 123.25f}});

    EXPECT_EQ(decoded(readBytes(path)), kHeader
                                            + "2011-03-05 14:07:09.250\t0.5\t-0.015625\t1e-05\n"
                                              "2011-03-05 14:07:10.999\t0\t-0\t0.3333333\n"
                                              "2011-03-05 14:07:10.999\t1e+07\t-2\t123.25\n");
    EXPECT_EQ(ascFileName(start), "2011-03-05-14-07-09.asc");
    {
        LocalZone other(kKolkata);
        EXPECT_EQ(ascFileName(start), "2011-03-05-18-37-09.asc");
    }
}

TEST(AscFile, ReplacesAnEarlierFileOfTheSameSecond)
{
    LocalZone zone(kUtc);
    TempFolder folder;
    Micros start = utcMicros(2011, 3, 5, 14, 7, 9);
    exported(folder.path(), start, {{start, 1, 2, 3}, {start + 10, 4, 5, 6}});
    std::string path = exported(folder.path(), start + 900'000, {{start + 20, 7, 8, 9}});

    EXPECT_EQ(decoded(readBytes(path)), kHeader + "2011-03-05 14:07:09.000\t7\t8\t9\n");
    EXPECT_EQ(folder.listing(), "2011-03-05-14-07-09.asc\n");
}

TEST(AscFile, ReportsAFolderItCannotWriteIn)
{
    LocalZone zone(kUtc);
    TempFolder folder;
    Micros start = utcMicros(2011, 3, 5, 14, 7, 9);
    {
        AscFile file(folder.path() + "/missing", start);
        EXPECT_FALSE(file.open());
        EXPECT_EQ(file.error(),
                  "cannot write " + folder.path() + "/missing/2011-03-05-14-07-09.asc: No such file or directory");
        file.addSample(start, 1, 2, 3);
        EXPECT_FALSE(file.commit());
    }
    writeBytes(folder.path() + "/plain", "x");
    AscFile file(folder.path() + "/plain", start);
    EXPECT_FALSE(file.open());
    EXPECT_EQ(file.error(), "cannot write " + folder.path() + "/plain/2011-03-05-14-07-09.asc: Not a directory");
    EXPECT_EQ(folder.listing(), "plain\n");
}

TEST(AscFile, AFailedWriteKeepsTheEarlierFileAndLeavesNoTemporary)
{
    LocalZone zone(kUtc);
    TempFolder folder;
    Micros start = utcMicros(2011, 3, 5, 14, 7, 9);
    std::string path = exported(folder.path(), start, {{start, 1, 2, 3}});
    const std::string before = readBytes(path);

    // A file size limit makes the write fail part way, as a full disk would.
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit small = old;
    small.rlim_cur = 64 * 1024;
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    bool committed;
    std::string error;
    {
        AscFile file(folder.path(), start);
        bool opened = file.open();
        for (int i = 0; i < 100'000; ++i) file.addSample(start + i * 10'000, 0.25f, -0.5f, 1.0f);
        committed = file.commit();
        error = file.error();
        EXPECT_TRUE(opened);
    }
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(committed);
    EXPECT_EQ(error, "cannot write " + path + ": File too large");
    EXPECT_EQ(readBytes(path), before);
    EXPECT_EQ(folder.listing(), "2011-03-05-14-07-09.asc\n");
}

TEST(AscFile, AFailedRenameLeavesTheTargetAsItWas)
{
    LocalZone zone(kUtc);
    TempFolder folder;
    Micros start = utcMicros(2011, 3, 5, 14, 7, 9);
    std::string target = folder.path() + "/2011-03-05-14-07-09.asc";
    ASSERT_EQ(mkdir(target.c_str(), 0755), 0);
    writeBytes(target + "/inside", "kept");

    AscFile file(folder.path(), start);
    ASSERT_TRUE(file.open());
    file.addSample(start, 1, 2, 3);
    EXPECT_FALSE(file.commit());
    EXPECT_EQ(file.error(), "cannot write " + target + ": Is a directory");
    EXPECT_EQ(readBytes(target + "/inside"), "kept");
    EXPECT_EQ(folder.listing(), "2011-03-05-14-07-09.asc\n");
}

TEST(AscFile, AnAbandonedExportRemovesItsTemporaryFile)
{
    LocalZone zone(kUtc);
    TempFolder folder;
    Micros start = utcMicros(2011, 3, 5, 14, 7, 9);
    std::string path = exported(folder.path(), start, {{start, 1, 2, 3}});
    const std::string before = readBytes(path);
    {
        AscFile file(folder.path(), start);
        ASSERT_TRUE(file.open());
        file.addSample(start, 4, 5, 6);
        EXPECT_EQ(folder.listing().find(".2011-03-05-14-07-09.asc."), 0u);
    }
    EXPECT_EQ(readBytes(path), before);
    EXPECT_EQ(folder.listing(), "2011-03-05-14-07-09.asc\n");
}

TEST(AscFile, StreamsALongSessionWithinBoundedMemory)
{
    LocalZone zone(kBerlin);
    TempFolder folder;
    // Crosses the spring change of daylight saving time on the way.
    Micros start = utcMicros(2011, 3, 27, 0, 30, 0, 123'456);
    constexpr int kLines = 500'000;
    constexpr Micros kStep = 7'001;
    auto value = [](long long i, int axis) {
        return static_cast<float>((i * 7919 + axis * 104729) % 200'003) / -4096.0f;
    };

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    long peakBefore = usage.ru_maxrss;
    AscFile file(folder.path(), start);
    ASSERT_TRUE(file.open());
    for (int i = 0; i < kLines; ++i) file.addSample(start + i * kStep, value(i, 0), value(i, 1), value(i, 2));
    ASSERT_TRUE(file.commit()) << file.error();
    getrusage(RUSAGE_SELF, &usage);
    // The text is over 40 MB; a writer that held it would raise the peak by that much.
    EXPECT_LT(usage.ru_maxrss - peakBefore, 8 * 1024L); // KiB
    EXPECT_EQ(file.linesWritten(), static_cast<std::uint64_t>(kLines));

    std::string expected = kHeader;
    for (int i = 0; i < kLines; ++i) {
        Micros t = start + i * kStep;
        std::time_t seconds = static_cast<std::time_t>(t / 1'000'000);
        std::tm local{};
        localtime_r(&seconds, &local);
        char line[128];
        std::size_t n = std::strftime(line, sizeof line, "%Y-%m-%d %H:%M:%S", &local);
        std::snprintf(line + n, sizeof line - n, ".%03d\t%.7g\t%.7g\t%.7g\n", static_cast<int>(t % 1'000'000 / 1000),
                      static_cast<double>(value(i, 0)), static_cast<double>(value(i, 1)),
                      static_cast<double>(value(i, 2)));
        expected += line;
    }
    std::string text = decoded(readBytes(file.path()));
    EXPECT_EQ(text.size(), expected.size());
    EXPECT_TRUE(text == expected);
}
