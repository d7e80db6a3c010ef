// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Writes points to an InfluxDB database over HTTP (libcurl) without ever holding up the caller,
// as the MQTT publisher does: write() only puts the point in the same bounded queue (see
// MessageQueue.h; points are kept like QoS 1 messages, never discarded for room, refused only
// when the queue holds nothing else) and returns at once. A thread of its own posts what is
// queued, up to batchLines points a request, to the version 1 /write endpoint. When the database
// cannot be reached or answers with a server error, the points go back to the head of the queue
// and are posted again after 0.5 s, then twice as long each time up to 30 s, with a little
// jitter; a database that answers "bad request" has refused those points, which are dropped and
// counted. A point posted twice (its answer lost) is kept once: InfluxDB keeps one point per
// series and time.
//
//     publish::InfluxOptions options;
//     options.url = *url;                     // from parseInfluxUrl()
//     publish::InfluxWriter writer(options);
//     writer.write(publish::summaryLine(summary));
//     ...
//     writer.stop();   // or let the destructor do it
#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <thread>

#include "platform/publish/Publisher.h"
#include "platform/publish/PublishUrl.h"

namespace publish {

class Outbox;

struct InfluxOptions {
    InfluxUrl url;
    std::size_t maxQueuedMessages = 10'000; // ~3 hours of summaries
    std::size_t maxQueuedBytes = 16u << 20;
    std::size_t batchLines = 500; // points in one request
    std::chrono::milliseconds firstRetry{500};
    std::chrono::milliseconds longestRetry{30'000};
    std::chrono::milliseconds requestTimeout{10'000}; // for a database that never answers
    std::chrono::milliseconds stopTimeout{1'500};     // the longest stop() may take
};

class InfluxWriter {
public:
    // Starts the writing thread at once.
    explicit InfluxWriter(InfluxOptions options);
    ~InfluxWriter(); // stop()
    InfluxWriter(const InfluxWriter&) = delete;
    InfluxWriter& operator=(const InfluxWriter&) = delete;

    // Queues one line of line protocol. False (counted as dropped) when the queue has no room or
    // the writer has stopped. Never waits for the network. Any thread may call it.
    bool write(std::string line);

    // Posts what it can of the queue within options.stopTimeout; the rest is dropped. Later calls
    // do nothing.
    void stop();

    // A snapshot of the counters (connected: the latest request succeeded); any thread.
    PublisherStats stats() const;

private:
    class Request;
    void run(std::stop_token stop);
    void flush(Request& request);
    std::string where() const;

    InfluxOptions options_;
    std::unique_ptr<Outbox> outbox_;
    std::jthread thread_;
};

} // namespace publish
