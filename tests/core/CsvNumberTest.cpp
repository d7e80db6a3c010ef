// SPDX-License-Identifier: GPL-3.0-or-later
// The CSV text of a float: %.7g wherever that reads back as the same float, else the shortest
// text that does; across the whole float range, with the binades where seven digits are coarser
// than a float's spacing (around 0.000999, 8388608, 9.9e9) walked value by value.
#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>

#include "platform/CsvNumber.h"
#include "platform/NumberText.h"

namespace {

void check(float value)
{
    char text[platform::kCsvNumberMax];
    const std::string ours(text, platform::appendCsvNumber(text, value));
    const std::string sevenDigits = platform::numberText(value);
    float back = 0;
    if (std::from_chars(sevenDigits.data(), sevenDigits.data() + sevenDigits.size(), back).ec == std::errc()
        && (back == value || std::isnan(value))) {
        ASSERT_EQ(ours, sevenDigits) << std::bit_cast<std::uint32_t>(value);
        return;
    }
    ASSERT_TRUE(std::from_chars(ours.data(), ours.data() + ours.size(), back).ec == std::errc()) << ours;
    ASSERT_EQ(back, value) << ours << " for " << sevenDigits;
    ASSERT_LE(ours.size(), std::size_t(platform::kCsvNumberMax));
}

TEST(CsvNumber, IsSevenDigitsWheneverTheyReadBackElseTheShortestThatDoes)
{
    std::mt19937 random(7);
    for (int i = 0; i < 2000000; ++i) check(std::bit_cast<float>(std::uint32_t(random())));
    // Values a recorder meets, finely: below a millig to tens of g.
    std::uniform_real_distribution<float> g(-20.0f, 20.0f);
    for (int i = 0; i < 500000; ++i) check(g(random) * std::pow(10.0f, float(i % 7 - 4)));
    for (float start : {0.0009765625f, 8388608.0f, 8.589934592e9f, 1e-38f})
        for (float v = start; v < start * 1.004f; v = std::nextafter(v, 1e38f)) check(v);
    for (float special : {0.0f, -0.0f, INFINITY, -INFINITY, NAN, 1e-45f, 3.4028235e38f, 1e-5f, 1e-4f, 1234567.0f,
                          12345678.0f, 0.1f, 0.35355339f})
        check(special);
}

} // namespace
