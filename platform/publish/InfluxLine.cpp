// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/publish/InfluxLine.h"

#include <cmath>
#include <string_view>

#include "platform/JsonText.h"
#include "platform/NumberText.h"

namespace publish {

namespace {

// Tag keys and values escape commas, equals signs and spaces; a line feed cannot be written at
// all and becomes a space.
void appendTagText(std::string& out, std::string_view text)
{
    for (char c : text) {
        if (c == ',' || c == '=' || c == ' ' || c == '\\') out.push_back('\\');
        out.push_back(c == '\n' || c == '\r' ? ' ' : c);
    }
}

void appendTag(std::string& out, std::string_view key, std::string_view value)
{
    if (key.empty() || value.empty()) return; // the protocol has no empty tags
    out.push_back(',');
    appendTagText(out, key);
    out.push_back('=');
    appendTagText(out, value);
}

void appendField(std::string& out, std::string_view key, double value)
{
    if (!std::isfinite(value)) return;
    if (out.back() != ' ') out.push_back(',');
    out.append(key).push_back('=');
    char buffer[platform::kNumberTextMax];
    out.append(buffer, platform::appendNumberText(buffer, float(value)));
}

void appendCount(std::string& out, std::string_view key, std::uint64_t value)
{
    out.push_back(',');
    out.append(key).push_back('=');
    platform::appendJsonInteger(out, value);
}

void appendAxis(std::string& out, const char* axis, const AxisLevels& levels)
{
    const std::string name(axis);
    appendField(out, name + "_rms", levels.rms);
    appendField(out, name + "_peak", levels.peak);
    appendField(out, name + "_velocity_rms_mm_s", levels.velocityRmsMmS);
}

} // namespace

std::string summaryLine(const Summary& s)
{
    std::string out;
    out.reserve(320 + s.device.size());
    out += kMeasurement;
    appendTag(out, "device", s.device);
    for (const auto& [key, value] : s.tags) appendTag(out, key, value);
    out.push_back(' ');
    out += "session=";
    platform::appendJsonInteger(out, s.session);
    appendField(out, "rate", s.rate);
    appendAxis(out, "x", s.x);
    appendAxis(out, "y", s.y);
    appendAxis(out, "z", s.z);
    appendCount(out, "dropped", s.dropped);
    appendCount(out, "publish_dropped", s.publishDropped);
    out.push_back(' ');
    platform::appendJsonInteger(out, s.time);
    return out;
}

} // namespace publish
