// SPDX-License-Identifier: GPL-3.0-or-later
// Setting a buffered IIO device up for a recording: its channels, clock, trigger, rate and
// buffer, each change remembered so that stopping puts the device back as it was found.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>

#include "platform/Log.h"
#include "platform/NumberText.h"
#include "platform/sensors/IioBufferParts.h"
#include "platform/sensors/IioBufferSource.h"
#include "platform/sensors/TextNumbers.h"

namespace sensors {

namespace fs = std::filesystem;
using namespace iiobuffer;

namespace {

// Enabled, and not as a Quivra that was killed leaves it (see takeOverIfLeft).
std::string alreadyEnabled(const fs::path& enable)
{
    return "its buffer is already enabled, by another program (iio-sensor-proxy, perhaps) or by one that "
           "ended without disabling it (then write 0 to "
           + enable.string() + ")";
}

} // namespace

bool IioBufferSource::setUp(double rate, std::string& error)
{
    // The node first: held by us, nobody else reads the buffer (see takeOverIfLeft).
    fd_ = ::open(node_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) {
        error = openError(node_, errno);
        return false;
    }
    if (!takeOverIfLeft(error)) return false;
    struct stat st {};
    characterDevice_ = ::fstat(fd_, &st) == 0 && S_ISCHR(st.st_mode);
    if (!chooseClock(error) || (!ownTrigger_.empty() && !change(trigger_, ownTrigger_, error))) return false;
    // Ours on, everything else off, so that the scans hold nothing we would skip.
    std::vector<fs::path> enables;
    std::error_code ec;
    for (fs::directory_iterator it(scanDir_, ec), end; !ec && it != end; it.increment(ec))
        if (it->path().filename().string().ends_with("_en")) enables.push_back(it->path());
    std::sort(enables.begin(), enables.end());
    for (const fs::path& file : enables) {
        const std::string name = file.filename().string(), stem = name.substr(0, name.size() - 3);
        const bool wanted = stem == timestampChannel || std::count(axisChannels, axisChannels + 3, stem) > 0;
        if (!change(file, wanted ? "1" : "0", error)) return false;
    }
    if (!layOut(error)) return false;

    rate_ = rate;
    if (!frequency_.empty()) {
        const auto nearer = [rate](double a, double b) { return std::fabs(a - rate) < std::fabs(b - rate); };
        const double chosen = rates_.empty() ? rate : *std::min_element(rates_.begin(), rates_.end(), nearer);
        std::string ignored;
        if (!change(frequency_, platform::shortestText(chosen), error)) return false;
        if (!readNumberAttribute(frequency_, rate_, ignored) || !(rate_ > 0)) rate_ = chosen;
    }
    const long watermark = std::max(1L, std::lround(rate_ * watermarkSeconds));
    const long length = std::max({4 * watermark, 64L, std::lround(rate_ * bufferSeconds)});
    if (present(bufferDir_ / "length") && !change(bufferDir_ / "length", std::to_string(length), error)) return false;
    std::string ignored; // a fixed watermark (or none, before Linux 4.2) only wakes us more often
    if (present(bufferDir_ / "watermark")) change(bufferDir_ / "watermark", std::to_string(watermark), ignored);
    if (!change(bufferDir_ / "enable", "1", error)) return false;
    buffer_.assign(std::max(readBytes, 4 * decoder_.scanSize()), 0);
    held_ = 0;
    return true;
}

bool IioBufferSource::takeOverIfLeft(std::string& reason) const
{
    const fs::path enable = bufferDir_ / "enable";
    if (attributeText(enable) != "1") return true;
    // Nobody reads it (the node could just be opened), and it holds what Quivra sets and nothing
    // else: its own channels alone, and the device's own trigger. That is how a Quivra that was
    // killed while recording leaves it; another program's set-up is left alone.
    bool quivras = ownTrigger_.empty() || attributeText(trigger_) == ownTrigger_;
    std::error_code ec;
    for (fs::directory_iterator it(scanDir_, ec), end; quivras && !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (!name.ends_with("_en")) continue;
        const std::string stem = name.substr(0, name.size() - 3);
        const bool ours = stem == timestampChannel || std::count(axisChannels, axisChannels + 3, stem) > 0;
        quivras = (attributeText(it->path()) == "1") == ours;
    }
    if (!quivras || ec) {
        reason = alreadyEnabled(enable);
        return false;
    }
    // Disabled, not recorded as a change: stopping leaves it disabled.
    if (!writeAttribute(enable, "0", reason)) return false;
    platform::log(name_ + ": its buffer was left enabled by a Quivra that is no longer running (nobody reads "
                  + node_.string() + ", and it holds Quivra's channels and trigger): taken over");
    return true;
}

bool IioBufferSource::chooseClock(std::string& error)
{
    clockOffsetNs_ = 0;
    const fs::path file = polled_->folder() / "current_timestamp_clock";
    // Without the attribute (Linux before 4.5) the kernel stamps with the wall clock.
    std::string ignored;
    if (!present(file) || attributeText(file) == "realtime" || change(file, "realtime", ignored)) return true;
    // Not ours to change: its clock is put on the wall clock by their difference now.
    const std::string clock = attributeText(file);
    if (wallClockOffset(clock, clockOffsetNs_)) return true;
    error = "its time stamps come from the clock '" + clock + "', which Quivra does not know";
    return false;
}

bool IioBufferSource::layOut(std::string& error)
{
    std::vector<ScanChannel> channels;
    const std::size_t size = readScanLayout(scanDir_, channels, error);
    if (size == 0) return false;
    // Kernels that still say how long a scan is must agree with the channels.
    double declared = 0;
    std::string ignored;
    if (present(bufferDir_ / "bytes_per_datum")
        && readNumberAttribute(bufferDir_ / "bytes_per_datum", declared, ignored) && declared != double(size)) {
        error = "its scans are " + platform::shortestText(declared) + " bytes, but its channels make "
                + std::to_string(size);
        return false;
    }
    std::array<const ScanChannel*, 3> axes{};
    const ScanChannel* timestamp = nullptr;
    for (const ScanChannel& channel : channels) {
        for (int axis = 0; axis < 3; ++axis)
            if (channel.name == axisChannels[axis]) axes[axis] = &channel;
        if (channel.name == timestampChannel) timestamp = &channel;
    }
    for (int axis = 0; axis < 3; ++axis)
        if (!axes[axis]) {
            error = std::string(axisChannels[axis]) + " could not be enabled";
            return false;
        }
    for (const ScanChannel* channel : {axes[0], axes[1], axes[2], timestamp})
        if (channel && !fitsReading(*channel, channel == timestamp, error)) return false;
    decoder_ = ScanDecoder(size, axes, timestamp, polled_->calibration(), clockOffsetNs_);
    return true;
}

bool IioBufferSource::change(const fs::path& file, const std::string& value, std::string& error)
{
    const std::string before = attributeText(file);
    if (before == value) return true;
    if (!writeAttribute(file, value, error)) {
        if (errno == EACCES || errno == EPERM) error += std::string("; ") + accessFix;
        return false;
    }
    changed_.push_back({file, before});
    return true;
}

} // namespace sensors
