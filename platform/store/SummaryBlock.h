// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One block of a session's summary: the lowest and highest value and the sum of squares per
// axis of 2^level consecutive samples in recording order (by id), with the span of their time
// stamps and the id of the first. Stored 48 blocks to a row of the `summary` table, each as these
// 72 bytes in little-endian order.
#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "platform/store/Records.h"

namespace store {

inline constexpr int kFinestLevel = 4; // blocks of 16 samples
inline constexpr int kLevelStep = 4;   // each level's block holds 16 of the level below
// Blocks of a level in one row: a row fits one 4 KiB page with its other columns, so that it is
// one page read and the summaries take little room beside the readings; a whole number of
// parents, so that a parent's blocks are all in one row.
inline constexpr int kBlocksPerChunk = 48;
static_assert(kBlocksPerChunk % (1 << kLevelStep) == 0);

struct SummaryBlock {
    ObjectId firstId = 0;
    Micros minTime = std::numeric_limits<Micros>::max();
    Micros maxTime = std::numeric_limits<Micros>::min();
    std::array<float, 3> min{std::numeric_limits<float>::infinity(), std::numeric_limits<float>::infinity(),
                             std::numeric_limits<float>::infinity()};
    std::array<float, 3> max{-std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity(),
                             -std::numeric_limits<float>::infinity()};
    std::array<double, 3> sumSquares{0.0, 0.0, 0.0};

    bool empty() const { return minTime > maxTime; }

    void add(ObjectId id, Micros time, float x, float y, float z)
    {
        if (empty()) firstId = id;
        minTime = std::min(minTime, time);
        maxTime = std::max(maxTime, time);
        const float v[3] = {x, y, z};
        for (int a = 0; a < 3; ++a) {
            min[a] = std::min(min[a], v[a]);
            max[a] = std::max(max[a], v[a]);
            sumSquares[a] += double(v[a]) * double(v[a]);
        }
    }
    // Another block of later samples.
    void add(const SummaryBlock& later)
    {
        if (later.empty()) return;
        if (empty()) firstId = later.firstId;
        minTime = std::min(minTime, later.minTime);
        maxTime = std::max(maxTime, later.maxTime);
        for (int a = 0; a < 3; ++a) {
            min[a] = std::min(min[a], later.min[a]);
            max[a] = std::max(max[a], later.max[a]);
            sumSquares[a] += later.sumSquares[a];
        }
    }
};

inline constexpr std::size_t kBlockBytes = 72;
static_assert(std::endian::native == std::endian::little, "the summary's blocks are stored little-endian");

inline void appendBlock(std::string& out, const SummaryBlock& b)
{
    char bytes[kBlockBytes];
    std::memcpy(bytes, &b.firstId, 8);
    std::memcpy(bytes + 8, &b.minTime, 8);
    std::memcpy(bytes + 16, &b.maxTime, 8);
    std::memcpy(bytes + 24, b.min.data(), 12);
    std::memcpy(bytes + 36, b.max.data(), 12);
    std::memcpy(bytes + 48, b.sumSquares.data(), 24);
    out.append(bytes, kBlockBytes);
}

inline SummaryBlock blockAt(std::string_view bytes, std::size_t i)
{
    SummaryBlock b;
    const char* p = bytes.data() + i * kBlockBytes;
    std::memcpy(&b.firstId, p, 8);
    std::memcpy(&b.minTime, p + 8, 8);
    std::memcpy(&b.maxTime, p + 16, 8);
    std::memcpy(b.min.data(), p + 24, 12);
    std::memcpy(b.max.data(), p + 36, 12);
    std::memcpy(b.sumSquares.data(), p + 48, 24);
    return b;
}

// What a range of samples holds: the count and, per axis, the extremes and the sum of squares.
struct SampleSummary {
    std::int64_t count = 0;
    SummaryBlock block;
    void add(const SampleValues& v)
    {
        block.add(v.id, v.dateStamp, v.x, v.y, v.z);
        ++count;
    }
};

// Samples a level's block holds.
inline constexpr std::int64_t blockSize(int level)
{
    return std::int64_t(1) << level;
}

} // namespace store
