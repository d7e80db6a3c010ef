// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One connection to the broker through libmosquitto, from connecting to closing; used on the
// network thread only.
//
// Each connection gets a fresh libmosquitto client. Messages awaiting acknowledgement when it
// ends go back to the outbox, which is then the only place that decides what is sent again, so
// the library never resends a message that the outbox sends too.
#include <chrono>
#include <optional>
#include <string>
#include <unordered_map>

#include "platform/publish/MessageQueue.h"
#include "platform/publish/Publisher.h"

struct mosquitto;

namespace publish {

class Outbox;

class Connection {
public:
    // statusTopic is where "online" and "offline" go, the will among them.
    Connection(const PublisherOptions& options, const std::string& clientId, std::string statusTopic, Outbox& outbox);
    // close()
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Starts connecting to a numeric address; false with the reason when that fails at once.
    bool open(const std::string& address, std::string& error);

    enum class State { Connecting, Connected, Closed };
    // Waits at most `wait` for the socket or the outbox's wake-up, then reads, writes, keeps the
    // connection alive and hands waiting messages to the library. Closed comes with the reason.
    State step(std::chrono::milliseconds wait, std::string& error);

    // The goodbye: sends what it can of the queue in the first two thirds of the time left,
    // then "offline" and a clean disconnect. If "offline" is not acknowledged by `deadline`, the
    // connection is just dropped, so that the broker publishes the will instead.
    void finish(std::chrono::steady_clock::time_point deadline);

    // Drops the connection without a goodbye and gives back what was not acknowledged.
    void close();

private:
    static void onConnect(mosquitto* client, void* self, int code);
    static void onPublish(mosquitto* client, void* self, int mid);
    bool pump(std::string& error);
    int publishStatus(const char* status); // libmosquitto's result
    void stepUntil(std::chrono::steady_clock::time_point until, bool (Connection::*done)() const);
    bool idle() const;
    bool statusAcknowledged() const { return statusAcked_; }

    const PublisherOptions& options_;
    const std::string& clientId_;
    Outbox& outbox_;
    const std::string statusTopic_;
    mosquitto* client_ = nullptr;
    std::unordered_map<int, Message> inFlight_; // by message id
    std::optional<int> doneEarly_;              // completed inside mosquitto_publish(), before its id was known
    int statusMid_ = 0;
    bool statusAcked_ = false;
    bool connected_ = false;
    bool onlineSent_ = false;
    bool pumping_ = true;
    int refusal_ = 0; // the broker's CONNACK code when it refused us
};

} // namespace publish
