// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Publishes messages to an MQTT broker without ever holding up the caller.
//
// publish() only puts the message in a bounded queue (see MessageQueue.h for what is dropped
// when it is full) and returns at once. A thread of the publisher's own connects, sends,
// reconnects after a failure (waiting 0.5 s, doubling up to 30 s, with a little jitter) and
// keeps QoS 1 messages until the broker has acknowledged them: those queued while the broker is
// away, or unacknowledged when the connection drops, are sent once it is back, in order.
//
// PREFIX/status holds "online" (retained) while connected; the broker's last will makes it
// "offline" when the connection ends without a goodbye, and stop() publishes "offline" itself.
//
// The network thread runs as SCHED_BATCH, so that waking it never preempts the caller. Note that
// libmosquitto ignores SIGPIPE for the whole process once it makes a client: a write to a closed
// pipe then fails with EPIPE instead of ending the program.
//
//     publish::PublisherOptions options;
//     options.broker = *url;                     // from parseBrokerUrl()
//     publish::Publisher publisher(options);
//     publisher.publish(publish::kSummaryTopic, publish::summaryJson(summary), 1);
//     publisher.publish(publish::kRawTopic, publish::rawBatchJson(session, batch), 0);
//     ...
//     publisher.stop();   // or let the destructor do it
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

#include "platform/publish/BrokerUrl.h"

namespace publish {

class Outbox;

struct PublisherOptions {
    BrokerUrl broker;
    std::string clientId;                   // empty: "quivra-HOST-PID"
    std::size_t maxQueuedMessages = 10'000; // ~3 hours of summaries
    std::size_t maxQueuedBytes = 16u << 20; // ~6 minutes of raw batches at 1,000 readings/s
    std::chrono::milliseconds firstRetry{500};
    std::chrono::milliseconds longestRetry{30'000};
    std::chrono::milliseconds connectTimeout{10'000}; // for a broker that never answers
    std::chrono::seconds keepAlive{15};               // a silent broker is noticed within twice this
    std::chrono::milliseconds stopTimeout{1'500};     // the longest stop() may take
};

struct PublisherStats {
    std::uint64_t queued = 0;     // messages publish() accepted
    std::uint64_t sent = 0;       // written to the broker (QoS 0) or acknowledged by it (QoS 1, 2)
    std::uint64_t dropped = 0;    // refused, discarded for room, lost with a connection (QoS 0)
                                  // or still unsent when the publisher stopped
    std::uint64_t reconnects = 0; // connection attempts after the first
    std::size_t waiting = 0;      // held now: queued or awaiting acknowledgement
    bool connected = false;
    std::string lastError; // the latest failure, empty until one happens
};

class Publisher {
public:
    // Starts the network thread at once; connecting happens there.
    explicit Publisher(PublisherOptions options);
    ~Publisher(); // stop()
    Publisher(const Publisher&) = delete;
    Publisher& operator=(const Publisher&) = delete;

    // Queues a message for PREFIX/subtopic. False (counted as dropped) when the queue has no
    // room or the publisher has stopped; false and not counted for a subtopic that is empty or
    // holds a wildcard. Never waits for the network. Any thread may call it.
    bool publish(std::string_view subtopic, std::string payload, int qos = 0, bool retain = false);

    // Sends what it can of the queue, publishes "offline" and disconnects, all within
    // options.stopTimeout; returns at once when not connected. Later calls do nothing.
    void stop();

    // A snapshot of the counters; any thread.
    PublisherStats stats() const;

private:
    std::string topic(std::string_view subtopic) const;
    void run(std::stop_token stop);
    // One attempt, and the life of the connection it makes; true if it got connected.
    bool connectOnce(std::size_t attempt, std::stop_token stop, std::string& error);
    std::string where() const;

    PublisherOptions options_;
    std::string clientId_;
    std::unique_ptr<Outbox> outbox_;
    std::jthread thread_;
};

} // namespace publish
