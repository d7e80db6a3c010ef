// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "platform/publish/MessageQueue.h"

using publish::Message;
using publish::MessageQueue;

namespace {

Message message(const std::string& payload, int qos)
{
    return Message{"t", payload, qos, false, 0};
}

std::vector<std::string> takeAll(MessageQueue& queue, std::vector<Message>* taken = nullptr)
{
    std::vector<std::string> payloads;
    while (auto m = queue.take()) {
        payloads.push_back(m->payload);
        if (taken) taken->push_back(std::move(*m));
    }
    return payloads;
}

} // namespace

TEST(MessageQueue, MakesRoomWithOldRawDataAndNeverWithSummaries)
{
    MessageQueue queue(4, 1 << 20);
    EXPECT_TRUE(queue.push(message("raw1", 0)).accepted);
    EXPECT_TRUE(queue.push(message("raw2", 0)).accepted);
    EXPECT_TRUE(queue.push(message("sum1", 1)).accepted);
    EXPECT_TRUE(queue.push(message("sum2", 1)).accepted);

    // Full: each newcomer pushes out the oldest raw batch, whatever its own QoS.
    auto admission = queue.push(message("sum3", 1));
    EXPECT_TRUE(admission.accepted);
    EXPECT_EQ(admission.discarded, 1u);
    EXPECT_TRUE(queue.push(message("raw3", 0)).accepted);
    EXPECT_TRUE(queue.push(message("sum4", 1)).accepted);
    EXPECT_EQ(queue.held(), 4u);

    // Only summaries left: nothing more gets in, and nothing is discarded trying.
    EXPECT_FALSE(queue.push(message("sum5", 1)).accepted);
    admission = queue.push(message("raw4", 0));
    EXPECT_FALSE(admission.accepted);
    EXPECT_EQ(admission.discarded, 0u);

    // Taken messages stay held (and block newcomers) until they are finished.
    std::vector<Message> taken;
    EXPECT_EQ(takeAll(queue, &taken), (std::vector<std::string>{"sum1", "sum2", "sum3", "sum4"}));
    EXPECT_FALSE(queue.push(message("sum5", 1)).accepted);
    queue.finished(taken[0]);
    EXPECT_TRUE(queue.push(message("sum5", 1)).accepted);
    EXPECT_EQ(queue.held(), 4u);
}

TEST(MessageQueue, KeepsAcceptanceOrderAcrossLanesAndGivesBackInOrder)
{
    MessageQueue queue(100, 40);
    for (auto [payload, qos] : {std::pair{"a", 0}, {"b", 1}, {"c", 0}, {"d", 1}})
        ASSERT_TRUE(queue.push(message(payload, qos)).accepted);

    std::vector<Message> taken;
    EXPECT_EQ(takeAll(queue, &taken), (std::vector<std::string>{"a", "b", "c", "d"}));
    // The connection dropped with b and d unacknowledged; e came meanwhile.
    ASSERT_TRUE(queue.push(message("e", 1)).accepted);
    queue.finished(taken[0]);
    queue.finished(taken[2]);
    queue.giveBack({taken[3], taken[1]});
    EXPECT_EQ(takeAll(queue), (std::vector<std::string>{"b", "d", "e"}));

    // The byte bound: a message too big for it is refused outright, costing the others nothing.
    MessageQueue small(100, 40);
    ASSERT_TRUE(small.push(message("0123456789", 0)).accepted); // 11 bytes with its topic
    auto admission = small.push(message(std::string(40, 'x'), 1));
    EXPECT_FALSE(admission.accepted);
    EXPECT_EQ(admission.discarded, 0u);
    EXPECT_TRUE(small.push(message(std::string(30, 'x'), 1)).accepted); // 31 + 11 > 40: raw goes
    EXPECT_EQ(small.held(), 1u);
    EXPECT_EQ(small.clearWaiting(), 1u);
    EXPECT_EQ(small.held(), 0u);
}
