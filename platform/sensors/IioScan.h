// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One scan of an IIO buffer: how the kernel lays out the enabled channels, and how the scans of
// our accelerometer become readings in g.
//
// The kernel puts the enabled channels in the order of their index, each element aligned to its
// own size, the 64-bit time stamp last, and pads the whole scan to its largest element. Each
// channel's "_type" attribute says how its element is stored:
// [be|le]:[s|u]bits/storagebits[Xrepeat][>>shift], e.g. "le:s12/16>>4".
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/sensors/AccelerometerSource.h"

namespace sensors {

struct ScanType {
    bool bigEndian = false;
    bool isSigned = false;
    int bits = 0;        // bits that carry the value
    int storageBits = 0; // 8, 16, 32 or 64
    int repeat = 1;      // elements of this storage in a row
    int shift = 0;       // right shift before the value bits

    std::size_t bytes() const { return std::size_t(storageBits / 8) * std::size_t(repeat); }
};

// False, with the reason in `error`, for text the kernel never writes: another byte order or
// sign letter, storage other than 8, 16, 32 or 64 bits, value bits beyond the storage.
bool parseScanType(std::string_view text, ScanType& type, std::string& error);

// The raw value of the first element at `p`: byte order, shift, then the value bits, sign-extended
// for a signed type.
inline std::int64_t extractRaw(const std::uint8_t* p, const ScanType& type)
{
    std::uint64_t v = 0;
    switch (type.storageBits) {
    case 8: v = *p; break;
    case 16: {
        std::uint16_t s;
        std::memcpy(&s, p, 2);
        v = type.bigEndian ? __builtin_bswap16(s) : s;
        break;
    }
    case 32: {
        std::uint32_t s;
        std::memcpy(&s, p, 4);
        v = type.bigEndian ? __builtin_bswap32(s) : s;
        break;
    }
    default: {
        std::uint64_t s;
        std::memcpy(&s, p, 8);
        v = type.bigEndian ? __builtin_bswap64(s) : s;
        break;
    }
    }
    v >>= type.shift;
    const int unused = 64 - type.bits;
    if (type.isSigned) return std::int64_t(v << unused) >> unused;
    return std::int64_t(unused == 0 ? v : v & ((std::uint64_t(1) << type.bits) - 1));
}

struct ScanChannel {
    std::string name; // the attribute stem, e.g. "in_accel_x" or "in_timestamp"
    int index = 0;    // from "_index"
    ScanType type;
    std::size_t offset = 0; // set by layOutScan
};

// "le:s12/16>>4": the type as the kernel writes it.
std::string scanTypeText(const ScanType& type);

// Whether the channel's type is one the kernel gives an accelerometer axis (at most 32 bits of
// storage, not repeated) or, for `timestamp`, its time stamp (a signed 64-bit value in 64 bits);
// the reason in `error` when it is not.
bool fitsReading(const ScanChannel& channel, bool timestamp, std::string& error);

// Puts the channels in kernel order and gives each its offset. Returns the size of one scan;
// 0, with the reason in `error`, when two channels share an index or there are none.
std::size_t layOutScan(std::vector<ScanChannel>& channels, std::string& error);

// Reads the channels enabled in a scan folder ("scan_elements", or "bufferN" on newer kernels)
// with their index (a whole number from 0 to INT_MAX) and type, and lays them out. Returns the size of one scan; 0, with one line
// naming the attribute at fault in `error`, when they cannot be read or laid out.
std::size_t readScanLayout(const std::filesystem::path& scanDir, std::vector<ScanChannel>& channels,
                           std::string& error);

// The nanoseconds that put time stamps of a kernel clock, as current_timestamp_clock names it
// ("monotonic", "boottime", ...), on the wall clock, measured now; false for a clock not known.
bool wallClockOffset(std::string_view clock, std::int64_t& offsetNs);

// What turns the three raw values into g: (raw + offset) * scale in m/s^2 per axis, the mount
// matrix (row by row), then standard gravity.
struct AxisCalibration {
    std::array<double, 3> scale{1, 1, 1};
    std::array<double, 3> offset{0, 0, 0};
    std::array<double, 9> mount{1, 0, 0, 0, 1, 0, 0, 0, 1};
};

// One reading in g from three raw values (the polled source uses the same arithmetic).
Acceleration toG(const AxisCalibration& calibration, const double raw[3]);

// Turns whole scans into readings.
class ScanDecoder {
public:
    ScanDecoder() = default;
    // `axes`: the x, y and z channels of a laid-out scan; `timestamp`: its time stamp channel, or
    // nullptr for none (the readings then carry 0). `clockOffsetNs` is added to every time stamp
    // before it becomes microseconds since the Unix epoch.
    ScanDecoder(std::size_t scanSize, const std::array<const ScanChannel*, 3>& axes, const ScanChannel* timestamp,
                const AxisCalibration& calibration, std::int64_t clockOffsetNs);

    std::size_t scanSize() const { return scanSize_; }
    bool hasTimestamp() const { return hasTimestamp_; }

    // Appends one reading for each whole scan in data[0, size); returns the bytes they took.
    std::size_t decode(const std::uint8_t* data, std::size_t size, std::vector<Acceleration>& out) const;

private:
    struct Element {
        std::size_t offset = 0;
        ScanType type;
    };
    std::size_t scanSize_ = 0;
    std::array<Element, 3> axes_{};
    Element timestamp_{};
    bool hasTimestamp_ = false;
    // readings in g = gain * raw + bias: scale, offset, mount matrix and gravity folded together.
    std::array<double, 9> gain_{};
    std::array<double, 3> bias_{};
    std::int64_t clockOffsetNs_ = 0;
};

} // namespace sensors
