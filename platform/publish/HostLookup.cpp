// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/publish/HostLookup.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include <netdb.h>
#include <sys/socket.h>

namespace publish {

namespace {

HostAddresses resolve(const std::string& host, int port, int flags)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = flags;
    addrinfo* list = nullptr;
    HostAddresses result;
    int rc = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &list);
    if (rc != 0) {
        result.error = ::gai_strerror(rc);
        return result;
    }
    for (addrinfo* a = list; a; a = a->ai_next) {
        char text[NI_MAXHOST];
        if (::getnameinfo(a->ai_addr, a->ai_addrlen, text, sizeof text, nullptr, 0, NI_NUMERICHOST) == 0)
            result.addresses.emplace_back(text);
    }
    ::freeaddrinfo(list);
    if (result.addresses.empty()) result.error = "no usable address";
    return result;
}

struct PendingLookup {
    std::mutex mutex;
    std::condition_variable_any done;
    std::optional<HostAddresses> answer;
};

} // namespace

std::optional<HostAddresses> lookUpHost(const std::string& host, int port, std::stop_token stop)
{
    if (HostAddresses literal = resolve(host, port, AI_NUMERICHOST); !literal.addresses.empty()) return literal;

    // Shared with the helper, which may outlive this call (and the publisher) when it is given up.
    auto pending = std::make_shared<PendingLookup>();
    std::thread([pending, host, port] {
        HostAddresses answer = resolve(host, port, 0);
        std::lock_guard lock(pending->mutex);
        pending->answer = std::move(answer);
        pending->done.notify_all();
    }).detach();

    std::unique_lock lock(pending->mutex);
    if (!pending->done.wait(lock, stop, [&] { return pending->answer.has_value(); })) return std::nullopt;
    return std::move(pending->answer);
}

} // namespace publish
