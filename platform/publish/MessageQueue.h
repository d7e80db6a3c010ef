// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The messages between the recorder and the network: bounded by a count and by bytes.
//
// When a new message does not fit, room is made by discarding the oldest QoS 0 messages still
// waiting (raw batches: stale data is worth least, and the newest raw data is what a live view
// wants); if that cannot make room, the new message is refused. QoS 1 and 2 messages (summaries)
// are therefore never discarded to make room, only refused once the queue holds nothing else.
//
// Messages handed to the network still count against the bound until they are finished (sent or
// lost), so a broker that stops acknowledging cannot make memory grow. Not thread-safe: the
// publisher guards it with its lock.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace publish {

struct Message {
    std::string topic;
    std::string payload;
    int qos = 0;
    bool retain = false;
    std::uint64_t seq = 0; // order of acceptance, set by the queue

    std::size_t bytes() const { return topic.size() + payload.size(); }
};

class MessageQueue {
public:
    MessageQueue(std::size_t maxMessages, std::size_t maxBytes);

    struct Admission {
        bool accepted = false;
        std::size_t discarded = 0; // older QoS 0 messages dropped to make room
    };
    Admission push(Message message);

    // The oldest waiting message of either lane. It stays held until finished().
    std::optional<Message> take();
    // Taken messages that were not delivered go back to the head of their lane, in their order.
    void giveBack(std::vector<Message> messages);
    void finished(const Message& message);
    // Drops every waiting message; returns how many.
    std::size_t clearWaiting();

    bool hasWaiting() const { return !lossy_.empty() || !reliable_.empty(); }
    std::size_t waiting() const { return lossy_.size() + reliable_.size(); }
    std::size_t held() const { return heldMessages_; }

private:
    bool fits(std::size_t bytes) const;

    std::size_t maxMessages_, maxBytes_;
    std::deque<Message> lossy_;    // QoS 0
    std::deque<Message> reliable_; // QoS 1 and 2
    std::size_t heldMessages_ = 0, heldBytes_ = 0;
    std::size_t lossyBytes_ = 0; // of the waiting QoS 0 messages
    std::uint64_t nextSeq_ = 1;
};

} // namespace publish
