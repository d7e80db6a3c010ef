// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Where --publish sends the summaries: an MQTT broker (mqtt://, see BrokerUrl.h) or an InfluxDB
// database through its version 1 write endpoint, which InfluxDB 1.x, VictoriaMetrics and the
// compatibility API of InfluxDB 2 and 3 accept:
//
//   influx://[USER:PASSWORD@]HOST[:PORT]/DATABASE
//
// HOST and the credentials as in an MQTT URL (percent-encoded where needed, an IPv6 address in
// brackets); PORT defaults to 8086; DATABASE is one path segment, percent-encoded if need be.
#include <optional>
#include <string>
#include <string_view>

#include "platform/publish/BrokerUrl.h"

namespace publish {

struct InfluxUrl {
    Server server;
    std::string database;

    // "host:8086/database", for log lines; never shows the credentials.
    std::string where() const;
    // The HTTP URL points are posted to, with microsecond time stamps.
    std::string writeUrl() const;
    // The HTTP URL of the query endpoint, for a query that follows.
    std::string queryUrl() const;
};

// One destination: exactly one of the two is set.
struct PublishUrl {
    std::optional<BrokerUrl> mqtt;
    std::optional<InfluxUrl> influx;
};

// "Bad InfluxDB URL influx://...: why" in `error` for a bad one.
std::optional<InfluxUrl> parseInfluxUrl(std::string_view url, std::string& error);

// By its scheme: influx:// or mqtt:// (the error of the MQTT parser for anything else).
std::optional<PublishUrl> parsePublishUrl(std::string_view url, std::string& error);

} // namespace publish
