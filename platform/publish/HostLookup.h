// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Turns the broker's host name into addresses without holding up the publisher: a name server
// that does not answer can keep getaddrinfo() busy for many seconds, and the publisher must be
// able to stop at once. A literal address is converted on the spot; a name is looked up on a
// helper thread of its own, which is left to finish alone if the wait is given up.
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

namespace publish {

struct HostAddresses {
    std::vector<std::string> addresses; // numeric, IPv4 or IPv6, in the resolver's order
    std::string error;                  // why there are none
};

// Nothing when `stop` was requested before the answer came.
std::optional<HostAddresses> lookUpHost(const std::string& host, int port, std::stop_token stop);

} // namespace publish
