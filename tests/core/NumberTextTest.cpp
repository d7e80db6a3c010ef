// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/NumberText.h"

#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <random>
#include <string>

using platform::numberText;

namespace {

std::string printed(float v)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.7g", static_cast<double>(v));
    return text;
}

// printf is the reference; keep its decimal mark a point whatever locale the test runs under.
class CLocale {
public:
    CLocale() : old_(std::setlocale(LC_NUMERIC, nullptr)) { std::setlocale(LC_NUMERIC, "C"); }
    ~CLocale() { std::setlocale(LC_NUMERIC, old_.c_str()); }

private:
    std::string old_;
};

} // namespace

TEST(NumberText, WritesTheExportValues)
{
    EXPECT_EQ(numberText(0.5f), "0.5");
    EXPECT_EQ(numberText(-0.015625f), "-0.015625");
    EXPECT_EQ(numberText(0.00001f), "1e-05");
    EXPECT_EQ(numberText(0.0f), "0");
    EXPECT_EQ(numberText(-0.0f), "-0");
    EXPECT_EQ(numberText(1.0f / 3.0f), "0.3333333");
    EXPECT_EQ(numberText(0.1f), "0.1");
    EXPECT_EQ(numberText(-2.0f), "-2");
    EXPECT_EQ(numberText(123456.7f), "123456.7");
}

TEST(NumberText, SwitchesToExponentsAtTheEdgesOfSevenDigits)
{
    EXPECT_EQ(numberText(9999999.0f), "9999999");
    EXPECT_EQ(numberText(1e7f), "1e+07");
    EXPECT_EQ(numberText(16777216.0f), "1.677722e+07");
    // 1e-4 in single precision lies just below 0.0001 but rounds up to it at seven digits.
    EXPECT_EQ(numberText(1e-4f), "0.0001");
    EXPECT_EQ(numberText(std::nextafter(1e-4f, 0.0f)), "9.999999e-05");
    EXPECT_EQ(numberText(9.99999e-05f), "9.99999e-05");
    EXPECT_EQ(numberText(FLT_MAX), "3.402823e+38");
    EXPECT_EQ(numberText(-FLT_MAX), "-3.402823e+38");
    EXPECT_EQ(numberText(FLT_MIN), "1.175494e-38");
    EXPECT_EQ(numberText(1.4e-45f), "1.401298e-45");
}

TEST(NumberText, NamesInfinitiesAndNotANumber)
{
    constexpr float inf = std::numeric_limits<float>::infinity();
    constexpr float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(numberText(inf), "inf");
    EXPECT_EQ(numberText(-inf), "-inf");
    EXPECT_EQ(numberText(nan), "nan");
    EXPECT_EQ(numberText(-nan), "nan");
}

TEST(NumberText, MatchesPrintfOverRandomAndBoundaryBitPatterns)
{
    CLocale c;
    std::size_t longest = 0;
    int mismatches = 0;
    auto check = [&](float v) {
        if (std::isnan(v)) return;
        char buffer[platform::kNumberTextMax];
        char* end = platform::appendNumberText(buffer, v);
        std::string ours(buffer, end);
        longest = std::max(longest, ours.size());
        if (ours != printed(v) && ++mismatches <= 10)
            ADD_FAILURE() << "bits " << std::bit_cast<std::uint32_t>(v) << ": " << ours << " but printf gives "
                          << printed(v);
    };

    std::mt19937 random(20110305);
    for (int i = 0; i < 1'000'000; ++i) check(std::bit_cast<float>(static_cast<std::uint32_t>(random())));
    // Values that round across a power of ten are where a shortcut would pick the wrong notation.
    for (int e = -45; e <= 38; ++e) {
        float p = static_cast<float>(std::pow(10.0, e));
        float below = p, above = p;
        for (int k = 0; k < 64; ++k) {
            below = std::nextafter(below, 0.0f);
            above = std::nextafter(above, std::numeric_limits<float>::infinity());
            for (float v : {below, above, -below, -above}) check(v);
        }
        check(p);
    }
    for (std::uint32_t bits = 0; bits < 4096; ++bits) // the smallest subnormals
        check(std::bit_cast<float>(bits));

    EXPECT_EQ(mismatches, 0);
    EXPECT_LE(longest, 13u);
}
