// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the caller and the network thread share: the queue, the counters and a wake-up.
// Every member locks for a few list operations at most, so the caller never waits long.
#include <mutex>
#include <optional>
#include <vector>

#include "platform/publish/MessageQueue.h"
#include "platform/publish/Publisher.h"

namespace publish {

class Outbox {
public:
    Outbox(std::size_t maxMessages, std::size_t maxBytes);
    ~Outbox();
    Outbox(const Outbox&) = delete;
    Outbox& operator=(const Outbox&) = delete;

    // The caller's side.
    bool push(Message message);
    void close(); // refuses everything from now on
    PublisherStats stats() const;

    // The network thread's side.
    std::optional<Message> take();
    void giveBack(std::vector<Message> messages);
    void sent(const Message& message);
    void lost(const Message& message);
    void dropWaiting();
    bool hasWaiting() const;
    void setConnected(bool connected);
    void setError(std::string error);
    void countReconnect();

    // Readable (for poll) after a push into an idle queue, or close().
    int wakeFd() const { return wakeFd_; }
    void clearWake();
    void wake();

private:
    mutable std::mutex mutex_;
    MessageQueue queue_;
    PublisherStats stats_;
    bool closed_ = false;
    int wakeFd_ = -1;
};

} // namespace publish
