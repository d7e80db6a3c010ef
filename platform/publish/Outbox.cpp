// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/publish/Outbox.h"

#include <cstdint>
#include <sys/eventfd.h>
#include <unistd.h>

namespace publish {

Outbox::Outbox(std::size_t maxMessages, std::size_t maxBytes)
    : queue_(maxMessages, maxBytes), wakeFd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
{}

Outbox::~Outbox()
{
    if (wakeFd_ >= 0) ::close(wakeFd_);
}

bool Outbox::push(Message message)
{
    bool wasIdle;
    {
        std::lock_guard lock(mutex_);
        if (closed_) {
            ++stats_.dropped;
            return false;
        }
        wasIdle = !queue_.hasWaiting();
        auto admission = queue_.push(std::move(message));
        stats_.dropped += admission.discarded + (admission.accepted ? 0 : 1);
        if (!admission.accepted) return false;
        ++stats_.queued;
    }
    // A busy queue means the network thread is already awake or waiting for the broker.
    if (wasIdle) wake();
    return true;
}

void Outbox::close()
{
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
    }
    wake();
}

PublisherStats Outbox::stats() const
{
    std::lock_guard lock(mutex_);
    PublisherStats copy = stats_;
    copy.waiting = queue_.held();
    return copy;
}

std::optional<Message> Outbox::take()
{
    std::lock_guard lock(mutex_);
    return queue_.take();
}

void Outbox::giveBack(std::vector<Message> messages)
{
    std::lock_guard lock(mutex_);
    queue_.giveBack(std::move(messages));
}

void Outbox::sent(const Message& message)
{
    std::lock_guard lock(mutex_);
    queue_.finished(message);
    ++stats_.sent;
}

void Outbox::lost(const Message& message)
{
    std::lock_guard lock(mutex_);
    queue_.finished(message);
    ++stats_.dropped;
}

void Outbox::dropWaiting()
{
    std::lock_guard lock(mutex_);
    stats_.dropped += queue_.clearWaiting();
}

bool Outbox::hasWaiting() const
{
    std::lock_guard lock(mutex_);
    return queue_.hasWaiting();
}

void Outbox::setConnected(bool connected)
{
    std::lock_guard lock(mutex_);
    stats_.connected = connected;
}

void Outbox::setError(std::string error)
{
    std::lock_guard lock(mutex_);
    stats_.lastError = std::move(error);
}

void Outbox::countReconnect()
{
    std::lock_guard lock(mutex_);
    ++stats_.reconnects;
}

void Outbox::wake()
{
    std::uint64_t one = 1;
    // Cannot block: the counter would have to reach 2^64 - 1 first.
    [[maybe_unused]] auto written = ::write(wakeFd_, &one, sizeof one);
}

void Outbox::clearWake()
{
    std::uint64_t count;
    [[maybe_unused]] auto read = ::read(wakeFd_, &count, sizeof count);
}

} // namespace publish
