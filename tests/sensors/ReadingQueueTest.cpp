// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <thread>

#include "platform/sensors/ReadingQueue.h"

using sensors::CapturedReading;
using sensors::ReadingQueue;

namespace {

CapturedReading numbered(std::uint64_t n)
{
    CapturedReading item;
    item.reading.x = double(n);
    item.reading.timestamp = platform::Micros(n);
    return item;
}

} // namespace

TEST(ReadingQueue, holdsItsCapacityThenRefusesWithoutOverwritingAndWrapsInOrder)
{
    ReadingQueue queue(5); // rounded up to 8
    std::uint64_t pushed = 0, popped = 0;
    CapturedReading item;
    for (int round = 0; round < 3; ++round) {
        while (queue.push(numbered(pushed))) ++pushed;
        EXPECT_EQ(pushed - popped, 8u);
        // A full queue keeps what it holds: the oldest unread reading is still first.
        EXPECT_FALSE(queue.push(numbered(999)));
        for (int i = 0; i < 5; ++i) {
            ASSERT_TRUE(queue.pop(item));
            EXPECT_EQ(item.reading.timestamp, platform::Micros(popped++));
        }
    }
    while (queue.pop(item)) EXPECT_EQ(item.reading.timestamp, platform::Micros(popped++));
    EXPECT_EQ(popped, pushed);
    EXPECT_FALSE(queue.pop(item));
}

TEST(ReadingQueue, carriesEveryReadingInOrderBetweenTwoThreads)
{
    ReadingQueue queue(64);
    constexpr std::uint64_t total = 500000;
    std::uint64_t refused = 0;
    std::thread producer([&] {
        for (std::uint64_t n = 0; n < total;) {
            if (queue.push(numbered(n)))
                ++n;
            else
                ++refused, std::this_thread::yield();
        }
    });
    std::uint64_t next = 0;
    CapturedReading item;
    while (next < total) {
        if (!queue.pop(item)) continue;
        ASSERT_EQ(item.reading.timestamp, platform::Micros(next));
        ASSERT_EQ(item.reading.x, double(next));
        ++next;
    }
    producer.join();
    EXPECT_FALSE(queue.pop(item));
}
