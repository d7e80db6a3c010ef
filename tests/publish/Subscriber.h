// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// An MQTT client that subscribes to a filter on the test broker and keeps what arrives, by
// topic; it reconnects by itself if the broker goes away.
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

struct mosquitto;
struct mosquitto_message;

struct Received {
    std::string payload;
    bool retained = false;
};

class Subscriber {
public:
    // A persistent session outlives a restart of a persistent broker, with what was queued for it.
    Subscriber(int port, std::string filter, std::string clientId = {}, bool persistentSession = false);
    ~Subscriber();
    Subscriber(const Subscriber&) = delete;
    Subscriber& operator=(const Subscriber&) = delete;

    // Waits until the subscription is in place.
    bool ready(std::chrono::milliseconds timeout = std::chrono::seconds(10));

    std::vector<Received> messages(const std::string& topic) const;
    std::vector<std::string> payloads(const std::string& topic) const;

    // Waits until the messages of the topic satisfy `condition`.
    bool waitFor(const std::string& topic, const std::function<bool(const std::vector<Received>&)>& condition,
                 std::chrono::milliseconds timeout = std::chrono::seconds(20));
    bool waitForCount(const std::string& topic, std::size_t count,
                      std::chrono::milliseconds timeout = std::chrono::seconds(20));

private:
    static void onConnect(mosquitto* client, void* self, int code);
    static void onSubscribe(mosquitto* client, void* self, int mid, int count, const int* granted);
    static void onMessage(mosquitto* client, void* self, const mosquitto_message* message);

    std::string filter_;
    mosquitto* client_ = nullptr;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool subscribed_ = false;
    std::map<std::string, std::vector<Received>> byTopic_;
};
