// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The JSON messages Quivra publishes, built from plain values so that the recorder and the
// analysis fill them without knowing MQTT. Compact (no spaces), field names fixed; floats as
// printf("%.7g") writes them, like the exports; a value that is not finite is written as null,
// so the text is always valid JSON.
//
// PREFIX/summary, once a second (flat enough for Telegraf's "json" parser: x.rms becomes x_rms):
//   {"time":"2024-05-01T12:00:00.123Z","time_us":1714564800123456,"device":"box-7",
//    "session":12,"rate":1000,"x":{"rms":0.0123,"peak":0.051,"velocity_rms_mm_s":1.31},
//    "y":{...},"z":{...},"dropped":0,"publish_dropped":0}
//
// PREFIX/raw, every 100 ms: the readings of the batch, t0 the first time stamp and dt each
// reading's offset from t0, all in microseconds since the Unix epoch:
//   {"session":12,"t0":1714564800100000,"dt":[0,1000,2000],"x":[0.01,-0.02,0.003],
//    "y":[...],"z":[...]}
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "platform/Clock.h"

namespace publish {

// Sub-topics under the prefix.
inline constexpr const char* kSummaryTopic = "summary";
inline constexpr const char* kRawTopic = "raw";
inline constexpr const char* kEventTopic = "event";
inline constexpr const char* kStatusTopic = "status";

struct AxisLevels {
    float rms = 0;            // g
    float peak = 0;           // g, largest distance from the mean (gravity and tare left out)
    float velocityRmsMmS = 0; // mm/s
};

struct Summary {
    platform::Micros time = 0; // end of the second summarised
    std::string device;        // the host name, for one
    std::int64_t session = 0;
    float rate = 0; // readings per second achieved
    AxisLevels x, y, z;
    std::uint64_t dropped = 0;        // readings lost by the capture
    std::uint64_t publishDropped = 0; // messages the publisher had to drop
    // Further tags (name, value): the session's machine and measurement point when it has them;
    // tags of the point in InfluxDB, a "tags" object in the JSON summary.
    std::vector<std::pair<std::string, std::string>> tags;
};

struct Reading {
    platform::Micros time = 0;
    float x = 0, y = 0, z = 0;
};

std::string summaryJson(const Summary& summary);

// A marker dropped while recording, published as an event:
// {"type":"marker","time":...,"time_us":...,"device":...,"session":...,"kind":...,"text":...}.
struct MarkerEvent {
    platform::Micros time = 0;
    std::string device;
    std::int64_t session = 0;
    std::string kind, text;
};
std::string markerEventJson(const MarkerEvent& event);

// {machine} and {point} in an MQTT topic prefix replaced by the session's, each made a topic
// level of its own ("/", "+" and "#" become "_"; an empty one "unknown").
std::string expandTopicTemplate(std::string prefix, const std::string& machine, const std::string& point);

// An empty batch has t0 0 and empty arrays.
std::string rawBatchJson(std::int64_t session, std::span<const Reading> readings);

// "2024-05-01T12:00:00.123Z": UTC, milliseconds cut, not rounded.
std::string isoTimeUtc(platform::Micros time);

// This machine's name ("localhost" if it has none).
std::string hostName();

} // namespace publish
