// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Passes TCP connections from a loopback port of its own to another one, so that a test can
// cut them the way a failed network or a killed process would: with no MQTT goodbye.
#include <mutex>
#include <condition_variable>
#include <thread>
#include <vector>

class TcpRelay {
public:
    explicit TcpRelay(int targetPort);
    ~TcpRelay();
    TcpRelay(const TcpRelay&) = delete;
    TcpRelay& operator=(const TcpRelay&) = delete;

    int port() const { return port_; }
    // Closes every relayed connection; returns once they are closed. New ones are still relayed.
    void cutAll();

private:
    struct Pair {
        int client, target;
    };
    void run(std::stop_token stop);
    void closePair(std::size_t index);

    int targetPort_;
    int port_ = 0;
    int listener_ = -1;
    int wakeFd_ = -1;
    std::mutex mutex_;
    std::condition_variable done_;
    int cutsAsked_ = 0, cutsDone_ = 0;
    std::vector<Pair> pairs_; // the relay thread's own
    std::jthread thread_;
};
