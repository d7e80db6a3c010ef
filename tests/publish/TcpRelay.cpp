// SPDX-License-Identifier: GPL-3.0-or-later
#include "TcpRelay.h"

#include <cstdint>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

sockaddr_in loopback(int port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

bool sendAll(int fd, const char* data, ssize_t size)
{
    while (size > 0) {
        ssize_t sent = ::send(fd, data, std::size_t(size), MSG_NOSIGNAL);
        if (sent <= 0) return false;
        data += sent;
        size -= sent;
    }
    return true;
}

} // namespace

TcpRelay::TcpRelay(int targetPort) : targetPort_(targetPort)
{
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = loopback(0);
    socklen_t length = sizeof address;
    ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listener_, 16);
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    thread_ = std::jthread([this](std::stop_token stop) { run(stop); });
}

TcpRelay::~TcpRelay()
{
    thread_.request_stop();
    std::uint64_t one = 1;
    [[maybe_unused]] auto written = ::write(wakeFd_, &one, sizeof one);
    thread_.join();
    while (!pairs_.empty()) closePair(0);
    ::close(listener_);
    ::close(wakeFd_);
}

void TcpRelay::cutAll()
{
    std::unique_lock lock(mutex_);
    int ticket = ++cutsAsked_;
    std::uint64_t one = 1;
    [[maybe_unused]] auto written = ::write(wakeFd_, &one, sizeof one);
    done_.wait(lock, [&] { return cutsDone_ >= ticket; });
}

void TcpRelay::closePair(std::size_t index)
{
    ::close(pairs_[index].client);
    ::close(pairs_[index].target);
    pairs_.erase(pairs_.begin() + std::ptrdiff_t(index));
}

void TcpRelay::run(std::stop_token stop)
{
    std::vector<pollfd> fds;
    while (!stop.stop_requested()) {
        fds.assign({{wakeFd_, POLLIN, 0}, {listener_, POLLIN, 0}});
        for (const Pair& pair : pairs_) {
            fds.push_back({pair.client, POLLIN, 0});
            fds.push_back({pair.target, POLLIN, 0});
        }
        if (::poll(fds.data(), fds.size(), -1) <= 0) continue;
        if (fds[0].revents) {
            std::uint64_t count;
            [[maybe_unused]] auto read = ::read(wakeFd_, &count, sizeof count);
            std::lock_guard lock(mutex_);
            if (cutsDone_ < cutsAsked_) {
                while (!pairs_.empty()) closePair(0);
                cutsDone_ = cutsAsked_;
                done_.notify_all();
            }
            continue;
        }
        if (fds[1].revents) {
            int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            int target = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in address = loopback(targetPort_);
            if (client >= 0 && ::connect(target, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
                pairs_.push_back({client, target});
            } else {
                ::close(client);
                ::close(target);
            }
        }
        // Only the pairs that were polled (a new one is at the end), walking backwards so that
        // closing one does not shift those still to visit.
        for (std::size_t i = (fds.size() - 2) / 2; i-- > 0;) {
            const pollfd& from = fds[2 + 2 * i];
            const pollfd& to = fds[3 + 2 * i];
            bool ok = true;
            char buffer[65536];
            for (auto [in, out] : {std::pair{&from, pairs_[i].target}, std::pair{&to, pairs_[i].client}}) {
                if (ok && in->revents) {
                    ssize_t got = ::recv(in->fd, buffer, sizeof buffer, 0);
                    ok = got > 0 && sendAll(out, buffer, got);
                }
            }
            if (!ok) closePair(i);
        }
    }
}
