// SPDX-License-Identifier: GPL-3.0-or-later
#include "Subscriber.h"

#include <mosquitto.h>

Subscriber::Subscriber(int port, std::string filter, std::string clientId, bool persistentSession)
    : filter_(std::move(filter))
{
    mosquitto_lib_init();
    client_ = mosquitto_new(clientId.empty() ? nullptr : clientId.c_str(), !persistentSession, this);
    mosquitto_connect_callback_set(client_, &Subscriber::onConnect);
    mosquitto_subscribe_callback_set(client_, &Subscriber::onSubscribe);
    mosquitto_message_callback_set(client_, &Subscriber::onMessage);
    mosquitto_reconnect_delay_set(client_, 1, 1, false);
    mosquitto_connect(client_, "127.0.0.1", port, 30);
    mosquitto_loop_start(client_);
}

Subscriber::~Subscriber()
{
    mosquitto_disconnect(client_);
    mosquitto_loop_stop(client_, false);
    mosquitto_destroy(client_);
}

void Subscriber::onConnect(mosquitto* client, void* self, int code)
{
    if (code == 0) mosquitto_subscribe(client, nullptr, static_cast<Subscriber*>(self)->filter_.c_str(), 1);
}

void Subscriber::onSubscribe(mosquitto*, void* self, int, int, const int*)
{
    auto* subscriber = static_cast<Subscriber*>(self);
    std::lock_guard lock(subscriber->mutex_);
    subscriber->subscribed_ = true;
    subscriber->changed_.notify_all();
}

void Subscriber::onMessage(mosquitto*, void* self, const mosquitto_message* message)
{
    auto* subscriber = static_cast<Subscriber*>(self);
    std::lock_guard lock(subscriber->mutex_);
    subscriber->byTopic_[message->topic].push_back(
        {std::string(static_cast<const char*>(message->payload), std::size_t(message->payloadlen)), message->retain});
    subscriber->changed_.notify_all();
}

bool Subscriber::ready(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return subscribed_; });
}

std::vector<Received> Subscriber::messages(const std::string& topic) const
{
    std::lock_guard lock(mutex_);
    auto found = byTopic_.find(topic);
    return found == byTopic_.end() ? std::vector<Received>{} : found->second;
}

std::vector<std::string> Subscriber::payloads(const std::string& topic) const
{
    std::vector<std::string> out;
    for (auto& message : messages(topic)) out.push_back(message.payload);
    return out;
}

bool Subscriber::waitFor(const std::string& topic, const std::function<bool(const std::vector<Received>&)>& condition,
                         std::chrono::milliseconds timeout)
{
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return condition(byTopic_[topic]); });
}

bool Subscriber::waitForCount(const std::string& topic, std::size_t count, std::chrono::milliseconds timeout)
{
    return waitFor(
        topic, [&](const std::vector<Received>& m) { return m.size() >= count; }, timeout);
}
