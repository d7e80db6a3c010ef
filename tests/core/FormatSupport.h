// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Helpers of the date, number and export tests: a time zone set for one test, wall-clock times in
// it, a folder of one's own and whole files.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "platform/Clock.h"

// POSIX zone rules rather than zone names, so the tests need no time zone database.
inline constexpr const char* kUtc = "UTC0";
inline constexpr const char* kBerlin = "CET-1CEST,M3.5.0,M10.5.0/3";
inline constexpr const char* kKolkata = "IST-5:30";
inline constexpr const char* kNewfoundland = "NST3:30NDT,M3.2.0,M11.1.0";

// Sets TZ for the lifetime of the object and puts the earlier value back.
class LocalZone {
public:
    explicit LocalZone(const char* zone)
    {
        if (const char* old = std::getenv("TZ")) old_ = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~LocalZone()
    {
        if (old_)
            setenv("TZ", old_->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    LocalZone(const LocalZone&) = delete;
    LocalZone& operator=(const LocalZone&) = delete;

private:
    std::optional<std::string> old_;
};

inline std::tm calendar(int year, int month, int day, int hour, int minute, int second)
{
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1;
    return tm;
}

// The time at which the local clock of the current zone shows this date and time.
inline platform::Micros localMicros(int year, int month, int day, int hour, int minute, int second, int micros = 0)
{
    std::tm tm = calendar(year, month, day, hour, minute, second);
    return static_cast<platform::Micros>(std::mktime(&tm)) * 1'000'000 + micros;
}

inline platform::Micros utcMicros(int year, int month, int day, int hour, int minute, int second, int micros = 0)
{
    std::tm tm = calendar(year, month, day, hour, minute, second);
    return static_cast<platform::Micros>(timegm(&tm)) * 1'000'000 + micros;
}

// A fresh folder, removed with everything in it at the end of the test.
class TempFolder {
public:
    TempFolder()
    {
        std::string templ = (std::filesystem::temp_directory_path() / "quivra-format-XXXXXX");
        if (mkdtemp(templ.data())) path_ = templ;
    }
    ~TempFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& path() const { return path_; }
    // The names in the folder, sorted, so that a stray temporary file shows up in a comparison.
    std::string listing() const
    {
        std::string names;
        std::vector<std::string> sorted;
        for (const auto& entry : std::filesystem::directory_iterator(path_))
            sorted.push_back(entry.path().filename().string());
        std::sort(sorted.begin(), sorted.end());
        for (const auto& name : sorted) names += name + "\n";
        return names;
    }

private:
    std::string path_;
};

inline std::string readBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void writeBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}
