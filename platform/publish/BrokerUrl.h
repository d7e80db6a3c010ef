// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Where to publish: mqtt://[USER[:PASSWORD]@]HOST[:PORT]/TOPIC-PREFIX
//
// HOST is a name, an IPv4 address or an IPv6 address in brackets ("[fd00::5]"); PORT defaults to
// 1883. USER and PASSWORD may be percent-encoded ("%40" for "@", "%3A" for ":"). The prefix is
// everything after the first slash that follows the host; it may hold slashes
// ("plant/line1/pump3") but must not be empty, start or end with a slash, or contain the MQTT
// wildcards + and #; it must be UTF-8 without control characters, and short enough that every
// topic Quivra publishes to stays within MQTT's 65,535 bytes. Every message goes to
// PREFIX/SUBTOPIC.
#include <optional>
#include <string>
#include <string_view>

namespace publish {

struct BrokerUrl {
    std::string host; // without the brackets of an IPv6 address
    int port = 1883;
    std::optional<std::string> user;
    std::optional<std::string> password;
    std::string prefix;

    // "host:1883" or "[fd00::5]:1883", for log lines; never shows the credentials.
    std::string endpoint() const;
};

// The part of a URL between "scheme://" and the path: [USER[:PASSWORD]@]HOST[:PORT], shared by
// the MQTT and the InfluxDB URLs.
struct Server {
    std::string host; // without the brackets of an IPv6 address
    int port = 0;
    std::optional<std::string> user;
    std::optional<std::string> password;

    std::string endpoint() const; // as BrokerUrl's
};
// Nothing, with the reason in `why`, for a bad one.
std::optional<Server> parseServer(std::string_view authority, int defaultPort, std::string& why);

// The URL with its password, if any, replaced by "***", for an error line.
std::string shownUrl(std::string_view url);

// Parses a URL as above. Returns nothing and one clear line in `error` for a bad one,
// such as "MQTT URL mqtt://broker needs a topic prefix: mqtt://broker/plant/line1".
std::optional<BrokerUrl> parseBrokerUrl(std::string_view url, std::string& error);

} // namespace publish
