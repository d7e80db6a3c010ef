// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What finding a buffered IIO device and setting it up share: its channels, how long the
// buffer is, and how a refused open is said.
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <string>

namespace sensors::iiobuffer {

inline constexpr const char* axisChannels[3] = {"in_accel_x", "in_accel_y", "in_accel_z"};
inline constexpr const char* timestampChannel = "in_timestamp";
inline constexpr double watermarkSeconds = 0.01; // the kernel wakes us about every 10 ms
inline constexpr double bufferSeconds = 1.0;     // room for a capture thread held up for a while
inline constexpr std::size_t readBytes = 64 * 1024;
inline constexpr const char* accessFix =
    "a udev rule such as SUBSYSTEM==\"iio\", GROUP=\"iio\", MODE=\"0660\" (with the buffer's "
    "attributes, see \"Access for a user\" in Quivra's README) gives them to the group iio; join that group";

inline std::string openError(const std::filesystem::path& node, int code)
{
    if (code == EACCES || code == EPERM)
        return "no access to " + node.string() + " (" + std::strerror(code) + "): " + accessFix;
    if (code == EBUSY) return node.string() + " is in use by another program (iio-sensor-proxy, perhaps)";
    return "cannot open " + node.string() + ": " + std::strerror(code);
}

} // namespace sensors::iiobuffer
