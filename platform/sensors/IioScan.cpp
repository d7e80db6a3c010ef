// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/sensors/IioScan.h"

#include <time.h>

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstdint>

#include "platform/sensors/IioSource.h"
#include "platform/sensors/TextNumbers.h"

namespace sensors {

namespace {

constexpr double standardGravity = 9.80665; // m/s^2 per g

bool takeNumber(std::string_view& text, int& value)
{
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end == text.data()) return false;
    text.remove_prefix(std::size_t(end - text.data()));
    return true;
}

bool take(std::string_view& text, std::string_view prefix)
{
    if (!text.starts_with(prefix)) return false;
    text.remove_prefix(prefix.size());
    return true;
}

// The alignment of an element: its size, rounded up to a power of two for the rare repeated
// elements of odd count (the kernel aligns with a power-of-two mask).
std::size_t alignmentOf(std::size_t bytes)
{
    std::size_t a = 1;
    while (a < bytes) a *= 2;
    return a;
}

std::size_t alignUp(std::size_t value, std::size_t alignment)
{
    return (value + alignment - 1) / alignment * alignment;
}

bool isTimestamp(const ScanChannel& channel)
{
    return channel.name == "in_timestamp";
}

std::int64_t floorDiv(std::int64_t value, std::int64_t by)
{
    const std::int64_t q = value / by;
    return (value % by != 0 && value < 0) ? q - 1 : q;
}

bool clockNamed(std::string_view name, clockid_t& id)
{
    static const std::pair<const char*, clockid_t> clocks[] = {{"realtime", CLOCK_REALTIME},
                                                               {"monotonic", CLOCK_MONOTONIC},
                                                               {"monotonic_raw", CLOCK_MONOTONIC_RAW},
                                                               {"realtime_coarse", CLOCK_REALTIME_COARSE},
                                                               {"monotonic_coarse", CLOCK_MONOTONIC_COARSE},
                                                               {"boottime", CLOCK_BOOTTIME},
                                                               {"tai", CLOCK_TAI}};
    for (const auto& [clockName, clock] : clocks)
        if (name == clockName) {
            id = clock;
            return true;
        }
    return false;
}

std::int64_t nanoseconds(clockid_t clock)
{
    timespec t{};
    ::clock_gettime(clock, &t);
    return std::int64_t(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

// Wall clock minus `clock`, from the tightest of a few readings taken between two of the wall clock.
std::int64_t offsetFrom(clockid_t clock)
{
    std::int64_t best = 0, narrowest = INT64_MAX;
    for (int i = 0; i < 5; ++i) {
        const std::int64_t before = nanoseconds(CLOCK_REALTIME), at = nanoseconds(clock),
                           after = nanoseconds(CLOCK_REALTIME);
        if (after - before < narrowest) {
            narrowest = after - before;
            best = before + (after - before) / 2 - at;
        }
    }
    return best;
}

// A channel's place in the scan: a whole number the kernel keeps in an int.
bool parseIndex(std::string_view text, int& index, std::string& error)
{
    text = trimmed(text);
    long long value = -1;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty() || value < 0 || value > INT_MAX) {
        error = "its index '" + std::string(text) + "' is not a whole number from 0 to " + std::to_string(INT_MAX);
        return false;
    }
    index = int(value);
    return true;
}

} // namespace

std::string scanTypeText(const ScanType& type)
{
    std::string text = std::string(type.bigEndian ? "be:" : "le:") + (type.isSigned ? "s" : "u")
                       + std::to_string(type.bits) + "/" + std::to_string(type.storageBits);
    if (type.repeat > 1) text += "X" + std::to_string(type.repeat);
    return text + ">>" + std::to_string(type.shift);
}

bool fitsReading(const ScanChannel& channel, bool timestamp, std::string& error)
{
    const ScanType& t = channel.type;
    // What the kernel gives an accelerometer's axes and its time stamp; anything else would be
    // read as numbers it never meant.
    const bool fits = timestamp ? t.isSigned && t.bits == 64 && t.storageBits == 64 && t.repeat == 1 && t.shift == 0
                                : t.storageBits <= 32 && t.repeat == 1;
    if (!fits)
        error = channel.name + " is stored as " + scanTypeText(t)
                + (timestamp ? ": a time stamp is a signed 64-bit value"
                             : ": an accelerometer axis takes at most 32 bits, once");
    return fits;
}

bool parseScanType(std::string_view text, ScanType& type, std::string& error)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.remove_suffix(1);
    const std::string shown(text);
    ScanType t;
    bool ok = true;
    if (take(text, "le:"))
        t.bigEndian = false;
    else if (take(text, "be:"))
        t.bigEndian = true;
    else
        ok = false;
    if (ok && take(text, "s"))
        t.isSigned = true;
    else if (ok && !take(text, "u"))
        ok = false;
    ok = ok && takeNumber(text, t.bits) && take(text, "/") && takeNumber(text, t.storageBits);
    if (ok && take(text, "X")) ok = takeNumber(text, t.repeat) && t.repeat >= 1;
    if (ok && take(text, ">>")) ok = takeNumber(text, t.shift);
    ok = ok && text.empty();
    if (!ok) {
        error = "'" + shown + "' is not a scan element type such as le:s12/16>>4";
        return false;
    }
    if (t.storageBits != 8 && t.storageBits != 16 && t.storageBits != 32 && t.storageBits != 64) {
        error = "'" + shown + "' stores its value in " + std::to_string(t.storageBits) + " bits, not 8, 16, 32 or 64";
        return false;
    }
    if (t.bits < 1 || t.shift < 0 || t.bits + t.shift > t.storageBits) {
        error = "'" + shown + "' places " + std::to_string(t.bits) + " bits shifted by " + std::to_string(t.shift)
                + " in " + std::to_string(t.storageBits) + " bits";
        return false;
    }
    type = t;
    return true;
}

std::size_t layOutScan(std::vector<ScanChannel>& channels, std::string& error)
{
    if (channels.empty()) {
        error = "no channel is enabled";
        return 0;
    }
    // The time stamp goes last whatever its index: the kernel writes it into the scan's last
    // eight bytes.
    std::sort(channels.begin(), channels.end(), [](const ScanChannel& a, const ScanChannel& b) {
        const bool ta = isTimestamp(a), tb = isTimestamp(b);
        return ta != tb ? tb : (a.index != b.index ? a.index < b.index : a.name < b.name);
    });
    std::size_t size = 0, largest = 1;
    for (std::size_t i = 0; i < channels.size(); ++i) {
        if (i > 0 && channels[i].index == channels[i - 1].index) {
            error =
                channels[i - 1].name + " and " + channels[i].name + " share index " + std::to_string(channels[i].index);
            return 0;
        }
        const std::size_t bytes = channels[i].type.bytes();
        const std::size_t alignment = alignmentOf(bytes);
        channels[i].offset = size = alignUp(size, alignment);
        size += bytes;
        largest = std::max(largest, alignment);
    }
    return alignUp(size, largest);
}

std::size_t readScanLayout(const std::filesystem::path& scanDir, std::vector<ScanChannel>& channels, std::string& error)
{
    channels.clear();
    std::error_code ec;
    for (std::filesystem::directory_iterator it(scanDir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string file = it->path().filename().string();
        std::string text, why;
        if (!file.ends_with("_en") || !readAttribute(it->path(), text, why) || trimmed(text) != "1") continue;
        ScanChannel channel;
        channel.name = file.substr(0, file.size() - 3);
        // A type shared by a channel's kind ("in_accel_type") stands for each of them.
        std::filesystem::path type = scanDir / (channel.name + "_type");
        if (!present(type)) type = scanDir / (channel.name.substr(0, channel.name.rfind('_')) + "_type");
        std::string index;
        if (!readAttribute(scanDir / (channel.name + "_index"), index, why) || !parseIndex(index, channel.index, why)
            || !readAttribute(type, text, why) || !parseScanType(text, channel.type, why)) {
            error = (scanDir.filename() / channel.name).string() + ": " + why;
            return 0;
        }
        channels.push_back(std::move(channel));
    }
    std::string why;
    const std::size_t size = layOutScan(channels, why);
    if (size == 0) error = "its scans cannot be laid out: " + why;
    return size;
}

bool wallClockOffset(std::string_view clock, std::int64_t& offsetNs)
{
    clockid_t id{};
    if (!clockNamed(clock, id)) return false;
    offsetNs = id == CLOCK_REALTIME ? 0 : offsetFrom(id);
    return true;
}

Acceleration toG(const AxisCalibration& c, const double raw[3])
{
    double v[3];
    for (int axis = 0; axis < 3; ++axis) v[axis] = (raw[axis] + c.offset[axis]) * c.scale[axis];
    const auto& m = c.mount;
    Acceleration a;
    a.x = (m[0] * v[0] + m[1] * v[1] + m[2] * v[2]) / standardGravity;
    a.y = (m[3] * v[0] + m[4] * v[1] + m[5] * v[2]) / standardGravity;
    a.z = (m[6] * v[0] + m[7] * v[1] + m[8] * v[2]) / standardGravity;
    return a;
}

ScanDecoder::ScanDecoder(std::size_t scanSize, const std::array<const ScanChannel*, 3>& axes,
                         const ScanChannel* timestamp, const AxisCalibration& c, std::int64_t clockOffsetNs)
    : scanSize_(scanSize), hasTimestamp_(timestamp != nullptr), clockOffsetNs_(clockOffsetNs)
{
    for (int axis = 0; axis < 3; ++axis) axes_[axis] = {axes[axis]->offset, axes[axis]->type};
    if (timestamp) timestamp_ = {timestamp->offset, timestamp->type};
    // g = M * diag(scale) * (raw + offset) / g0 = gain * raw + bias.
    for (int row = 0; row < 3; ++row) {
        bias_[row] = 0;
        for (int column = 0; column < 3; ++column) {
            const double k = c.mount[row * 3 + column] * c.scale[column] / standardGravity;
            gain_[row * 3 + column] = k;
            bias_[row] += k * c.offset[column];
        }
    }
}

std::size_t ScanDecoder::decode(const std::uint8_t* data, std::size_t size, std::vector<Acceleration>& out) const
{
    if (scanSize_ == 0) return 0;
    const std::size_t scans = size / scanSize_;
    const std::size_t first = out.size();
    out.resize(first + scans);
    Acceleration* reading = out.data() + first;
    const auto& g = gain_;
    for (std::size_t i = 0; i < scans; ++i, data += scanSize_, ++reading) {
        const double x = double(extractRaw(data + axes_[0].offset, axes_[0].type));
        const double y = double(extractRaw(data + axes_[1].offset, axes_[1].type));
        const double z = double(extractRaw(data + axes_[2].offset, axes_[2].type));
        reading->x = g[0] * x + g[1] * y + g[2] * z + bias_[0];
        reading->y = g[3] * x + g[4] * y + g[5] * z + bias_[1];
        reading->z = g[6] * x + g[7] * y + g[8] * z + bias_[2];
        reading->timestamp =
            hasTimestamp_ ? floorDiv(extractRaw(data + timestamp_.offset, timestamp_.type) + clockOffsetNs_, 1000) : 0;
    }
    return scans * scanSize_;
}

} // namespace sensors
