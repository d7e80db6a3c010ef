// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/DateFormatter.h"

#include "core/FormatSupport.h"

#include <gtest/gtest.h>

#include <random>
#include <stdexcept>

using platform::DateFormatter;
using platform::formatDate;
using platform::Micros;

namespace {
constexpr const char* kDateCode = "yyyy-MM-dd HH:mm:ss.SSS";
}

TEST(DateFormatter, WritesTheSystemPatterns)
{
    LocalZone zone(kUtc);
    Micros t = utcMicros(2011, 3, 5, 14, 7, 9, 250'000);
    EXPECT_EQ(formatDate(t, kDateCode), "2011-03-05 14:07:09.250");
    EXPECT_EQ(formatDate(t, "yyyy-MM-dd-HH-mm-ss"), "2011-03-05-14-07-09");
    EXPECT_EQ(formatDate(t, "yyyy-MM-dd-HH:mm:ss"), "2011-03-05-14:07:09");
    EXPECT_EQ(formatDate(0, kDateCode), "1970-01-01 00:00:00.000");
}

TEST(DateFormatter, ShowsLocalTimeWithItsOffset)
{
    {
        LocalZone zone(kKolkata);
        EXPECT_EQ(formatDate(0, kDateCode), "1970-01-01 05:30:00.000");
        EXPECT_EQ(formatDate(0, "Z|ZZZZ|ZZZZZ"), "+0530|GMT+05:30|+05:30");
    }
    {
        LocalZone zone(kNewfoundland);
        EXPECT_EQ(formatDate(utcMicros(2011, 1, 1, 12, 0, 0), "HH:mm Z"), "08:30 -0330");
    }
    LocalZone zone(kUtc);
    EXPECT_EQ(formatDate(0, "Z|ZZZZ|ZZZZZ"), "+0000|GMT|Z");
}

TEST(DateFormatter, FollowsDaylightSavingChanges)
{
    LocalZone zone(kBerlin);
    const char* pattern = "yyyy-MM-dd HH:mm:ss.SSS Z";
    // Spring: 02:00 CET becomes 03:00 CEST.
    Micros spring = utcMicros(2011, 3, 27, 1, 0, 0);
    EXPECT_EQ(formatDate(spring - 1000, pattern), "2011-03-27 01:59:59.999 +0100");
    EXPECT_EQ(formatDate(spring, pattern), "2011-03-27 03:00:00.000 +0200");
    // Autumn: 03:00 CEST becomes 02:00 CET, so 02:30 happens twice.
    EXPECT_EQ(formatDate(utcMicros(2011, 10, 30, 0, 30, 0), pattern), "2011-10-30 02:30:00.000 +0200");
    EXPECT_EQ(formatDate(utcMicros(2011, 10, 30, 1, 30, 0), pattern), "2011-10-30 02:30:00.000 +0100");

    // The cached second must not outlive the change.
    DateFormatter formatter(pattern);
    std::string out;
    formatter.appendDate(out, spring - 1000);
    formatter.appendDate(out, spring);
    EXPECT_EQ(out, "2011-03-27 01:59:59.999 +01002011-03-27 03:00:00.000 +0200");
}

TEST(DateFormatter, CutsTheFractionSoTheSecondNeverRollsOver)
{
    LocalZone zone(kUtc);
    Micros t = utcMicros(2011, 3, 5, 14, 7, 9, 999'999);
    EXPECT_EQ(formatDate(t, kDateCode), "2011-03-05 14:07:09.999");
    EXPECT_EQ(formatDate(t, "s.S|SS|SSSSSS|SSSSSSSSS"), "9.9|99|999999|999999000");
    EXPECT_EQ(formatDate(utcMicros(2011, 3, 5, 14, 7, 9, 1'999), "SSS"), "001");
}

TEST(DateFormatter, FloorsTimesBefore1970)
{
    LocalZone zone(kUtc);
    EXPECT_EQ(formatDate(-1, kDateCode), "1969-12-31 23:59:59.999");
    EXPECT_EQ(formatDate(-1'500, kDateCode), "1969-12-31 23:59:59.998");
    EXPECT_EQ(formatDate(-999'999, kDateCode), "1969-12-31 23:59:59.000");
    EXPECT_EQ(formatDate(-1'000'000, kDateCode), "1969-12-31 23:59:59.000");
    EXPECT_EQ(formatDate(-1'000'001, kDateCode), "1969-12-31 23:59:58.999");
    DateFormatter formatter(kDateCode);
    std::string out;
    formatter.appendDate(out, -1);
    formatter.appendDate(out, 0);
    EXPECT_EQ(out, "1969-12-31 23:59:59.9991970-01-01 00:00:00.000");
}

TEST(DateFormatter, WritesFieldWidthsNamesAndHours)
{
    LocalZone zone(kUtc);
    Micros t = utcMicros(2011, 3, 5, 14, 7, 9);
    EXPECT_EQ(formatDate(t, "y|yy|yyyyy|M|MM|MMM|MMMM|MMMMM|d|dd|D|DDD"), "2011|11|02011|3|03|Mar|March|M|5|05|64|064");
    EXPECT_EQ(formatDate(t, "E|EEEE|EEEEE|EEEEEE|G|GGGG"), "Sat|Saturday|S|Sa|AD|Anno Domini");
    EXPECT_EQ(formatDate(utcMicros(2011, 3, 5, 0, 30, 0), "H k K h a"), "0 24 0 12 AM");
    EXPECT_EQ(formatDate(utcMicros(2011, 3, 5, 12, 30, 0), "H k K h a"), "12 12 0 12 PM");
    EXPECT_EQ(formatDate(utcMicros(2011, 3, 5, 23, 5, 0), "HH k KK hh aaaaa m"), "23 23 11 11 p 5");
    EXPECT_EQ(formatDate(utcMicros(5, 7, 1, 0, 0, 0), "y|yy|yyyy G"), "5|05|0005 AD");
    EXPECT_EQ(formatDate(utcMicros(0, 7, 1, 0, 0, 0), "y G"), "1 BC");
}

TEST(DateFormatter, TakesQuotedTextAndOtherCharactersAsTheyAre)
{
    LocalZone zone(kUtc);
    Micros t = utcMicros(2011, 3, 5, 14, 7, 9);
    EXPECT_EQ(formatDate(t, "yyyy-MM-dd'T'HH:mm"), "2011-03-05T14:07");
    EXPECT_EQ(formatDate(t, "h 'o''clock' a"), "2 o'clock PM");
    EXPECT_EQ(formatDate(t, "''HH''"), "'14'");
    EXPECT_EQ(formatDate(t, "'yyyy MM'"), "yyyy MM");
    EXPECT_EQ(formatDate(t, "d. MMMM yyyy \u2013 HH:mm"), "5. March 2011 \u2013 14:07");
    EXPECT_EQ(formatDate(t, ""), "");
}

TEST(DateFormatter, RejectsPatternsItCannotWrite)
{
    EXPECT_THROW(DateFormatter("yyyy-MM-dd Q"), std::invalid_argument);
    EXPECT_THROW(DateFormatter("ddd"), std::invalid_argument);
    EXPECT_THROW(DateFormatter("SSSSSSSSSS"), std::invalid_argument);
    EXPECT_THROW(DateFormatter("HH 'open"), std::invalid_argument);
}

TEST(DateFormatter, AgreesWithTheCLibraryAndItsOwnFastPath)
{
    LocalZone zone(kBerlin);
    DateFormatter fast("yyyy-MM-dd HH:mm:ss.SSSSSS Z");
    DateFormatter slow = fast;
    std::mt19937_64 random(42);
    std::uniform_int_distribution<Micros> anyTime(utcMicros(1800, 1, 1, 0, 0, 0), utcMicros(2200, 1, 1, 0, 0, 0));
    std::uniform_int_distribution<Micros> smallStep(0, 400'000);
    Micros t = anyTime(random);
    std::string out = "prefix|";
    int failures = 0;
    for (int i = 0; i < 200'000; ++i) {
        // Mostly short steps, as samples come, with now and then a jump anywhere.
        t = (i % 50 == 0) ? anyTime(random) : t + smallStep(random);
        std::size_t start = out.size();
        fast.appendDate(out, t);
        std::string expected = slow.stringFromDate(t);

        Micros fraction = ((t % 1'000'000) + 1'000'000) % 1'000'000;
        std::time_t seconds = static_cast<std::time_t>((t - fraction) / 1'000'000);
        std::tm local{};
        localtime_r(&seconds, &local);
        char reference[64];
        std::size_t n = std::strftime(reference, sizeof reference, "%Y-%m-%d %H:%M:%S", &local);
        std::snprintf(reference + n, sizeof reference - n, ".%06d", static_cast<int>(fraction));

        if ((out.compare(start, std::string::npos, expected) != 0 || expected.compare(0, 26, reference) != 0)
            && ++failures <= 5)
            ADD_FAILURE() << t << ": " << out.substr(start) << " / " << expected << " / " << reference;
        if (out.size() > 4096) out.erase(7);
    }
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(out.substr(0, 7), "prefix|");
}
