// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/publish/Connection.h"

#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

#include <mosquitto.h>
#include <poll.h>

#include "platform/publish/Outbox.h"

namespace publish {

namespace {

using SteadyClock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Enough to keep a link busy; few enough that a broker which stops acknowledging holds little.
constexpr std::size_t kMaxInFlight = 64;

// The library's sentences end with a full stop; ours go inside parentheses.
std::string withoutStop(std::string text)
{
    if (!text.empty() && text.back() == '.') text.pop_back();
    return text;
}

std::string errorText(int rc, int savedErrno)
{
    return withoutStop(rc == MOSQ_ERR_ERRNO ? std::strerror(savedErrno) : mosquitto_strerror(rc));
}

// Faults of the message itself, not of the connection: the message is dropped, the link kept.
bool isMessageFault(int rc)
{
    return rc == MOSQ_ERR_INVAL || rc == MOSQ_ERR_PAYLOAD_SIZE || rc == MOSQ_ERR_MALFORMED_UTF8
           || rc == MOSQ_ERR_OVERSIZE_PACKET || rc == MOSQ_ERR_QOS_NOT_SUPPORTED;
}

} // namespace

Connection::Connection(const PublisherOptions& options, const std::string& clientId, std::string statusTopic,
                       Outbox& outbox)
    : options_(options), clientId_(clientId), outbox_(outbox), statusTopic_(std::move(statusTopic))
{}

Connection::~Connection()
{
    close();
}

bool Connection::open(const std::string& address, std::string& error)
{
    client_ = mosquitto_new(clientId_.c_str(), true, this);
    if (!client_) {
        error = std::strerror(errno);
        return false;
    }
    mosquitto_connect_callback_set(client_, &Connection::onConnect);
    mosquitto_publish_callback_set(client_, &Connection::onPublish);
    mosquitto_int_option(client_, MOSQ_OPT_TCP_NODELAY, 1);
    // Set before connecting, so that the broker knows what to say if we vanish.
    int rc = mosquitto_will_set(client_, statusTopic_.c_str(), 7, "offline", 1, true);
    const auto& broker = options_.broker;
    if (rc == MOSQ_ERR_SUCCESS && broker.user)
        rc = mosquitto_username_pw_set(client_, broker.user->c_str(),
                                       broker.password ? broker.password->c_str() : nullptr);
    if (rc == MOSQ_ERR_SUCCESS)
        rc = mosquitto_connect_async(client_, address.c_str(), broker.port,
                                     static_cast<int>(options_.keepAlive.count()));
    if (rc != MOSQ_ERR_SUCCESS) {
        error = errorText(rc, errno);
        close();
        return false;
    }
    return true;
}

Connection::State Connection::step(milliseconds wait, std::string& error)
{
    if (!client_) return State::Closed;
    pollfd fds[2] = {{outbox_.wakeFd(), POLLIN, 0}, {mosquitto_socket(client_), POLLIN, 0}};
    if (mosquitto_want_write(client_)) fds[1].events |= POLLOUT;
    ::poll(fds, fds[1].fd >= 0 ? 2 : 1, static_cast<int>(wait.count()));
    if (fds[0].revents) outbox_.clearWake();

    // The library's calls for a loop of one's own: mosquitto_loop() would select() again, and
    // select() cannot watch a descriptor above 1023.
    int rc = MOSQ_ERR_SUCCESS;
    if (fds[1].revents & (POLLIN | POLLERR | POLLHUP)) rc = mosquitto_loop_read(client_, 1);
    if (rc == MOSQ_ERR_SUCCESS && (fds[1].revents & POLLOUT) && mosquitto_socket(client_) >= 0)
        rc = mosquitto_loop_write(client_, 1);
    if (rc == MOSQ_ERR_SUCCESS) rc = mosquitto_loop_misc(client_);
    int savedErrno = errno;
    if (refusal_ != 0) {
        error = "the broker refused the connection: " + withoutStop(mosquitto_connack_string(refusal_));
        close();
        return State::Closed;
    }
    if (rc != MOSQ_ERR_SUCCESS) {
        error = errorText(rc, savedErrno);
        close();
        return State::Closed;
    }
    if (!connected_) return State::Connecting;
    if (!onlineSent_) {
        onlineSent_ = true;
        // Before "online" goes out, so that no one who hears it finds the counters behind.
        outbox_.setConnected(true);
        if (int failed = publishStatus("online"); failed != MOSQ_ERR_SUCCESS) {
            error = errorText(failed, errno);
            close();
            return State::Closed;
        }
    }
    if (pumping_ && !pump(error)) {
        close();
        return State::Closed;
    }
    return State::Connected;
}

bool Connection::pump(std::string& error)
{
    while (inFlight_.size() < kMaxInFlight) {
        std::optional<Message> message = outbox_.take();
        if (!message) return true;
        int mid = 0;
        doneEarly_.reset();
        int rc = mosquitto_publish(client_, &mid, message->topic.c_str(), static_cast<int>(message->payload.size()),
                                   message->payload.data(), message->qos, message->retain);
        int savedErrno = errno;
        if (rc == MOSQ_ERR_SUCCESS) {
            if (doneEarly_ == mid)
                outbox_.sent(*message);
            else
                inFlight_.emplace(mid, std::move(*message));
            continue;
        }
        if (isMessageFault(rc)) {
            outbox_.lost(*message);
            outbox_.setError("cannot publish to " + message->topic + ": " + errorText(rc, savedErrno));
            continue;
        }
        error = errorText(rc, savedErrno);
        if (message->qos > 0) {
            std::vector<Message> back;
            back.push_back(std::move(*message));
            outbox_.giveBack(std::move(back));
        } else {
            outbox_.lost(*message);
        }
        return false;
    }
    return true;
}

int Connection::publishStatus(const char* status)
{
    statusAcked_ = false;
    return mosquitto_publish(client_, &statusMid_, statusTopic_.c_str(), static_cast<int>(std::strlen(status)), status,
                             1, true);
}

void Connection::onConnect(mosquitto*, void* self, int code)
{
    auto* connection = static_cast<Connection*>(self);
    connection->connected_ = code == 0;
    connection->refusal_ = code;
}

void Connection::onPublish(mosquitto*, void* self, int mid)
{
    auto* connection = static_cast<Connection*>(self);
    if (mid == connection->statusMid_) {
        connection->statusAcked_ = true;
        connection->statusMid_ = 0; // ids wrap around; 0 is never one
        return;
    }
    auto found = connection->inFlight_.find(mid);
    if (found == connection->inFlight_.end()) {
        // A QoS 0 message is done once written, which can happen before mosquitto_publish()
        // has returned its id.
        connection->doneEarly_ = mid;
        return;
    }
    connection->outbox_.sent(found->second);
    connection->inFlight_.erase(found);
}

bool Connection::idle() const
{
    return inFlight_.empty() && !outbox_.hasWaiting();
}

void Connection::stepUntil(SteadyClock::time_point until, bool (Connection::*done)() const)
{
    std::string ignored;
    while (client_ && !(this->*done)()) {
        auto left = std::chrono::ceil<milliseconds>(until - SteadyClock::now());
        if (left <= milliseconds(0) || step(std::min(left, milliseconds(100)), ignored) == State::Closed) return;
    }
}

void Connection::finish(SteadyClock::time_point deadline)
{
    if (!connected_) return;
    stepUntil(SteadyClock::now() + (deadline - SteadyClock::now()) * 2 / 3, &Connection::idle);
    pumping_ = false;
    if (!client_ || publishStatus("offline") != MOSQ_ERR_SUCCESS) return;
    stepUntil(deadline, &Connection::statusAcknowledged);
    if (client_ && statusAcked_) {
        // Written at once: the goodbye is a couple of bytes.
        mosquitto_disconnect(client_);
    }
}

void Connection::close()
{
    if (!client_) return;
    mosquitto_destroy(client_);
    client_ = nullptr;
    if (connected_) outbox_.setConnected(false);
    connected_ = false;
    std::vector<Message> unacknowledged;
    for (auto& [mid, message] : inFlight_) {
        if (message.qos > 0)
            unacknowledged.push_back(std::move(message));
        else
            outbox_.lost(message);
    }
    inFlight_.clear();
    outbox_.giveBack(std::move(unacknowledged));
}

} // namespace publish
