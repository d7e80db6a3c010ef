// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/publish/Publisher.h"

#include <algorithm>
#include <mutex>
#include <random>

#include <mosquitto.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include "platform/Log.h"
#include "platform/publish/Connection.h"
#include "platform/publish/HostLookup.h"
#include "platform/publish/Outbox.h"
#include "platform/publish/Payloads.h"

namespace publish {

namespace {

using SteadyClock = std::chrono::steady_clock;
using std::chrono::milliseconds;

milliseconds until(SteadyClock::time_point when)
{
    return std::max(milliseconds(0), std::chrono::ceil<milliseconds>(when - SteadyClock::now()));
}

} // namespace

Publisher::Publisher(PublisherOptions options)
    : options_(std::move(options)),
      clientId_(!options_.clientId.empty() ? options_.clientId
                                           : "quivra-" + hostName() + "-" + std::to_string(::getpid())),
      outbox_(std::make_unique<Outbox>(options_.maxQueuedMessages, options_.maxQueuedBytes))
{
    // Not thread-safe in the library, so done once, here on the caller's thread.
    static std::once_flag libraryReady;
    std::call_once(libraryReady, [] { mosquitto_lib_init(); });
    thread_ = std::jthread([this](std::stop_token stop) { run(stop); });
}

Publisher::~Publisher()
{
    stop();
}

std::string Publisher::topic(std::string_view subtopic) const
{
    std::string topic;
    topic.reserve(options_.broker.prefix.size() + 1 + subtopic.size());
    topic.append(options_.broker.prefix).append("/").append(subtopic);
    return topic;
}

bool Publisher::publish(std::string_view subtopic, std::string payload, int qos, bool retain)
{
    if (subtopic.empty() || subtopic.find_first_of("+#") != std::string_view::npos) return false;
    Message message;
    message.topic = topic(subtopic);
    message.payload = std::move(payload);
    message.qos = std::clamp(qos, 0, 2);
    message.retain = retain;
    return outbox_->push(std::move(message));
}

void Publisher::stop()
{
    if (!thread_.joinable()) return;
    outbox_->close();
    thread_.request_stop();
    thread_.join();
}

PublisherStats Publisher::stats() const
{
    return outbox_->stats();
}

std::string Publisher::where() const
{
    return "MQTT broker " + options_.broker.endpoint();
}

bool Publisher::connectOnce(std::size_t attempt, std::stop_token stop, std::string& error)
{
    std::optional<HostAddresses> found = lookUpHost(options_.broker.host, options_.broker.port, stop);
    if (!found) return false;
    if (found->addresses.empty()) {
        error = "cannot resolve " + options_.broker.host + ": " + found->error;
        return false;
    }
    // Round robin over the addresses, in case only some of them answer.
    const std::string& address = found->addresses[attempt % found->addresses.size()];
    Connection connection(options_, clientId_, topic(kStatusTopic), *outbox_);
    if (!connection.open(address, error)) return false;
    const auto giveUp = SteadyClock::now() + options_.connectTimeout;
    bool connected = false;
    while (!stop.stop_requested()) {
        auto wait = connected ? milliseconds(1000) : std::min(milliseconds(1000), until(giveUp));
        auto state = connection.step(wait, error);
        if (state == Connection::State::Closed) return connected;
        if (state == Connection::State::Connected && !connected) {
            connected = true;
            platform::log(where() + ": connected as " + clientId_);
        }
        if (!connected && SteadyClock::now() >= giveUp) {
            error = "no answer within " + std::to_string(options_.connectTimeout.count()) + " ms";
            return false;
        }
    }
    if (connected) {
        connection.finish(SteadyClock::now() + options_.stopTimeout);
        platform::log(where() + ": disconnected");
    }
    return connected;
}

void Publisher::run(std::stop_token stop)
{
    // A batch thread does not preempt the recorder when publish() wakes it; it runs next.
    sched_param batch{};
    ::pthread_setschedparam(::pthread_self(), SCHED_BATCH, &batch);
    std::stop_callback wakeOnStop(stop, [this] { outbox_->wake(); });
    std::minstd_rand random(std::random_device{}());
    milliseconds delay = options_.firstRetry;
    bool troubleLogged = false; // one line per outage, not one per retry

    for (std::size_t attempt = 0; !stop.stop_requested(); ++attempt) {
        if (attempt > 0) outbox_->countReconnect();
        std::string error;
        const bool wasConnected = connectOnce(attempt, stop, error);
        if (stop.stop_requested()) break;
        outbox_->setError(error);
        if (wasConnected) {
            platform::log(where() + ": connection lost (" + error + "); reconnecting");
            delay = options_.firstRetry;
        } else if (!troubleLogged) {
            platform::log(where() + ": cannot connect (" + error + "); retrying in the background");
        }
        troubleLogged = true;

        // Jitter keeps a fleet of recorders from all knocking at once when the broker returns.
        auto jitter = std::uniform_int_distribution<milliseconds::rep>(0, delay.count() / 4)(random);
        const auto wakeAt = SteadyClock::now() + delay + milliseconds(jitter);
        while (!stop.stop_requested() && SteadyClock::now() < wakeAt) {
            pollfd wake{outbox_->wakeFd(), POLLIN, 0};
            if (::poll(&wake, 1, static_cast<int>(until(wakeAt).count())) > 0) outbox_->clearWake();
        }
        if (!wasConnected) delay = std::min(delay * 2, options_.longestRetry);
    }
    outbox_->dropWaiting();
}

} // namespace publish
