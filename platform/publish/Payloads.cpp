// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/publish/Payloads.h"

#include <chrono>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <unistd.h>

#include "platform/JsonText.h"
#include "platform/NumberText.h"

namespace publish {

namespace {

void appendFloat(std::string& out, float value)
{
    if (!std::isfinite(value)) {
        out += "null";
        return;
    }
    char buffer[platform::kNumberTextMax];
    out.append(buffer, platform::appendNumberText(buffer, value));
}

void appendAxis(std::string& out, const char* name, const AxisLevels& axis)
{
    out += ",\"";
    out += name;
    out += "\":{\"rms\":";
    appendFloat(out, axis.rms);
    out += ",\"peak\":";
    appendFloat(out, axis.peak);
    out += ",\"velocity_rms_mm_s\":";
    appendFloat(out, axis.velocityRmsMmS);
    out.push_back('}');
}

template <typename Value>
void appendArray(std::string& out, const char* name, std::span<const Reading> readings,
                 Value (*value)(const Reading&, const Reading& first))
{
    out += ",\"";
    out += name;
    out += "\":[";
    for (std::size_t i = 0; i < readings.size(); ++i) {
        if (i) out.push_back(',');
        if constexpr (std::is_same_v<Value, float>)
            appendFloat(out, value(readings[i], readings.front()));
        else
            platform::appendJsonInteger(out, value(readings[i], readings.front()));
    }
    out.push_back(']');
}

} // namespace

std::string isoTimeUtc(platform::Micros time)
{
    using namespace std::chrono;
    sys_time<microseconds> point{microseconds(time)};
    auto day = floor<days>(point);
    year_month_day date{day};
    hh_mm_ss clock{floor<milliseconds>(point - day)};
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", int(date.year()), unsigned(date.month()),
                  unsigned(date.day()), int(clock.hours().count()), int(clock.minutes().count()),
                  int(clock.seconds().count()), int(clock.subseconds().count()));
    return text;
}

std::string summaryJson(const Summary& s)
{
    std::string out;
    out.reserve(320 + s.device.size());
    out += "{\"time\":\"";
    out += isoTimeUtc(s.time);
    out += "\",\"time_us\":";
    platform::appendJsonInteger(out, s.time);
    out += ",\"device\":";
    platform::appendJsonString(out, s.device);
    out += ",\"session\":";
    platform::appendJsonInteger(out, s.session);
    out += ",\"rate\":";
    appendFloat(out, s.rate);
    appendAxis(out, "x", s.x);
    appendAxis(out, "y", s.y);
    appendAxis(out, "z", s.z);
    out += ",\"dropped\":";
    platform::appendJsonInteger(out, s.dropped);
    out += ",\"publish_dropped\":";
    platform::appendJsonInteger(out, s.publishDropped);
    if (!s.tags.empty()) {
        out += ",\"tags\":{";
        for (std::size_t i = 0; i < s.tags.size(); ++i) {
            if (i > 0) out.push_back(',');
            platform::appendJsonString(out, s.tags[i].first);
            out.push_back(':');
            platform::appendJsonString(out, s.tags[i].second);
        }
        out.push_back('}');
    }
    out.push_back('}');
    return out;
}

std::string markerEventJson(const MarkerEvent& e)
{
    std::string out = "{\"type\":\"marker\",\"time\":\"";
    out += isoTimeUtc(e.time);
    out += "\",\"time_us\":";
    platform::appendJsonInteger(out, e.time);
    out += ",\"device\":";
    platform::appendJsonString(out, e.device);
    out += ",\"session\":";
    platform::appendJsonInteger(out, e.session);
    out += ",\"kind\":";
    platform::appendJsonString(out, e.kind);
    out += ",\"text\":";
    platform::appendJsonString(out, e.text);
    out.push_back('}');
    return out;
}

std::string expandTopicTemplate(std::string prefix, const std::string& machine, const std::string& point)
{
    const auto level = [](std::string text) {
        if (text.empty()) return std::string("unknown");
        for (char& c : text)
            if (c == '/' || c == '+' || c == '#') c = '_';
        return text;
    };
    for (const auto& [field, value] : {std::pair<std::string, std::string>{"{machine}", level(machine)},
                                       std::pair<std::string, std::string>{"{point}", level(point)}})
        for (std::size_t at = 0; (at = prefix.find(field, at)) != std::string::npos; at += value.size())
            prefix.replace(at, field.size(), value);
    return prefix;
}

std::string rawBatchJson(std::int64_t session, std::span<const Reading> readings)
{
    std::string out;
    // About 10 characters a value: 40 a reading.
    out.reserve(64 + 40 * readings.size());
    out += "{\"session\":";
    platform::appendJsonInteger(out, session);
    out += ",\"t0\":";
    platform::appendJsonInteger(out, readings.empty() ? platform::Micros(0) : readings.front().time);
    appendArray<platform::Micros>(out, "dt", readings,
                                  [](const Reading& r, const Reading& first) { return r.time - first.time; });
    appendArray<float>(out, "x", readings, [](const Reading& r, const Reading&) { return r.x; });
    appendArray<float>(out, "y", readings, [](const Reading& r, const Reading&) { return r.y; });
    appendArray<float>(out, "z", readings, [](const Reading& r, const Reading&) { return r.z; });
    out.push_back('}');
    return out;
}

std::string hostName()
{
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
    return name;
}

} // namespace publish
