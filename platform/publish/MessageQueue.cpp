// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/publish/MessageQueue.h"

#include <algorithm>

namespace publish {

MessageQueue::MessageQueue(std::size_t maxMessages, std::size_t maxBytes)
    : maxMessages_(std::max<std::size_t>(maxMessages, 1)), maxBytes_(maxBytes)
{}

bool MessageQueue::fits(std::size_t bytes) const
{
    return heldMessages_ + 1 <= maxMessages_ && heldBytes_ + bytes <= maxBytes_;
}

MessageQueue::Admission MessageQueue::push(Message message)
{
    Admission admission;
    const std::size_t bytes = message.bytes();
    // Refuse before discarding anything when even an empty lossy lane would not make room.
    if (heldMessages_ - lossy_.size() + 1 > maxMessages_ || heldBytes_ - lossyBytes_ + bytes > maxBytes_)
        return admission;
    while (!fits(bytes)) {
        const Message& oldest = lossy_.front();
        lossyBytes_ -= oldest.bytes();
        finished(oldest);
        lossy_.pop_front();
        ++admission.discarded;
    }
    message.seq = nextSeq_++;
    ++heldMessages_;
    heldBytes_ += bytes;
    if (message.qos > 0) {
        reliable_.push_back(std::move(message));
    } else {
        lossyBytes_ += bytes;
        lossy_.push_back(std::move(message));
    }
    admission.accepted = true;
    return admission;
}

std::optional<Message> MessageQueue::take()
{
    if (!hasWaiting()) return std::nullopt;
    bool lossyFirst = reliable_.empty() || (!lossy_.empty() && lossy_.front().seq < reliable_.front().seq);
    auto& lane = lossyFirst ? lossy_ : reliable_;
    Message message = std::move(lane.front());
    lane.pop_front();
    if (lossyFirst) lossyBytes_ -= message.bytes();
    return message;
}

void MessageQueue::giveBack(std::vector<Message> messages)
{
    std::sort(messages.begin(), messages.end(), [](const Message& a, const Message& b) { return a.seq > b.seq; });
    for (auto& message : messages) {
        if (message.qos > 0) {
            reliable_.push_front(std::move(message));
        } else {
            lossyBytes_ += message.bytes();
            lossy_.push_front(std::move(message));
        }
    }
}

void MessageQueue::finished(const Message& message)
{
    --heldMessages_;
    heldBytes_ -= message.bytes();
}

std::size_t MessageQueue::clearWaiting()
{
    std::size_t count = waiting();
    for (const auto* lane : {&lossy_, &reliable_})
        for (const auto& message : *lane) finished(message);
    lossy_.clear();
    reliable_.clear();
    lossyBytes_ = 0;
    return count;
}

} // namespace publish
