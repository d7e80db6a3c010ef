// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/sensors/IioBufferSource.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "platform/NumberText.h"
#include "platform/Log.h"
#include "platform/sensors/IioBufferParts.h"
#include "platform/sensors/TextNumbers.h"

namespace sensors {

namespace fs = std::filesystem;

using namespace iiobuffer;

namespace {

constexpr std::string_view devicePrefix = "iio:device";

fs::path firstPresent(std::initializer_list<fs::path> files)
{
    for (const fs::path& file : files)
        if (present(file)) return file;
    return {};
}

// "6.25 12.5 25", or a range "[0.5 0.5 400]" of which the ends are taken; slowest first.
std::vector<double> parseRates(std::string text)
{
    const bool range = text.find('[') != std::string::npos;
    std::replace_if(
        text.begin(), text.end(), [](char c) { return c == '[' || c == ']' || c == '\t' || c == '\n'; }, ' ');
    std::vector<double> rates;
    for (std::size_t at = 0, end = 0; at < text.size(); at = end + 1) {
        end = std::min(text.find(' ', at), text.size());
        double rate = 0;
        if (parseFiniteNumber(std::string_view(text).substr(at, end - at), rate) && rate > 0) rates.push_back(rate);
    }
    if (range && rates.size() == 3) rates.erase(rates.begin() + 1);
    std::sort(rates.begin(), rates.end());
    rates.erase(std::unique(rates.begin(), rates.end()), rates.end());
    return rates;
}

// Sources with a device set up, put back at exit: the capture thread is never joined then.
struct Active {
    std::mutex lock;
    std::vector<IioBufferSource*> sources;
};

Active& active()
{
    static Active* const registry = [] {
        std::atexit(&IioBufferSource::restoreAll);
        return new Active;
    }();
    return *registry;
}

} // namespace

fs::path IioBufferSource::deviceNodes()
{
    const char* overridden = std::getenv("QUIVRA_IIO_DEV");
    return (overridden && *overridden) ? fs::path(overridden) : fs::path("/dev");
}

std::unique_ptr<AccelerometerSource> IioBufferSource::prefer(std::unique_ptr<IioSource> polled)
{
    if (!polled) return nullptr;
    const fs::path& folder = polled->folder();
    const fs::path scanDir = present(folder / "buffer0/in_accel_x_en") ? folder / "buffer0" : folder / "scan_elements";
    const fs::path bufferDir = present(folder / "buffer0/enable") ? folder / "buffer0" : folder / "buffer";
    bool hasBuffer = present(bufferDir / "enable") && folder.filename().string().starts_with(devicePrefix);
    for (const char* axis : axisChannels) hasBuffer = hasBuffer && present(scanDir / (std::string(axis) + "_en"));
    if (!hasBuffer) return polled;

    std::unique_ptr<IioBufferSource> buffered(new IioBufferSource(std::move(polled), scanDir, bufferDir));
    std::string reason;
    if (buffered->usable(reason)) return buffered;
    platform::log(buffered->name_ + ": reading by polling, not through its buffer: " + reason);
    return std::move(buffered->polled_);
}

IioBufferSource::IioBufferSource(std::unique_ptr<IioSource> polled, fs::path scanDir, fs::path bufferDir)
    : polled_(std::move(polled)), name_(polled_->deviceName()), scanDir_(std::move(scanDir)),
      bufferDir_(std::move(bufferDir)), node_(deviceNodes() / polled_->folder().filename())
{
    const fs::path& folder = polled_->folder();
    frequency_ = firstPresent({folder / "sampling_frequency", folder / "in_accel_sampling_frequency"});
    rates_ = parseRates(attributeText(
        firstPresent({folder / "sampling_frequency_available", folder / "in_accel_sampling_frequency_available"})));
    if (present(folder / "trigger/current_trigger")) {
        trigger_ = folder / "trigger/current_trigger";
        ownTrigger_ = polled_->dataReadyTrigger();
    }
}

IioBufferSource::~IioBufferSource()
{
    std::lock_guard lock(lock_);
    stopLocked();
}

bool IioBufferSource::usable(std::string& reason)
{
    if (!present(node_)) {
        reason = "there is no device node " + node_.string();
        return false;
    }
    // Opened and closed at once, to learn now rather than when recording starts. The node first:
    // the kernel lets one reader have it at a time, so an open that works means nobody reads it.
    for (const auto& [file, flags] : {std::pair{node_, O_RDONLY}, std::pair{bufferDir_ / "enable", O_WRONLY}}) {
        const int fd = ::open(file.c_str(), flags | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            reason = openError(file, errno);
            return false;
        }
        ::close(fd);
    }
    if (!takeOverIfLeft(reason)) return false;
    if (!trigger_.empty() && ownTrigger_.empty() && attributeText(trigger_).empty()) {
        reason = "its buffer needs a trigger, and it has none of its own and none is set";
        return false;
    }
    return true;
}

bool IioBufferSource::read(Acceleration& out, std::string& error)
{
    return polled_->read(out, error);
}

std::string IioBufferSource::description() const
{
    return name_ + ", buffered";
}

bool IioBufferSource::startStreaming(double rate, std::string& error)
{
    std::lock_guard lock(lock_);
    stopLocked();
    failed_ = false;
    if (!setUp(rate, error)) {
        stopLocked();
        return false;
    }
    std::lock_guard registry(active().lock);
    active().sources.push_back(this);
    return true;
}

bool IioBufferSource::readStream(std::vector<Acceleration>& out, int timeoutMs, std::string& error)
{
    std::lock_guard lock(lock_);
    if (fd_ < 0) {
        error = failed_ ? failure_ : "the buffer is not enabled";
        return false;
    }
    pollfd p[2] = {{fd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    const int ready = ::poll(p, wakeFd_ >= 0 ? 2 : 1, timeoutMs);
    if (ready < 0 && errno != EINTR)
        return fail(std::string("cannot wait for ") + node_.string() + ": " + std::strerror(errno), error);
    // The kernel wakes a wait only at the watermark; a read that does not wait hands over what
    // it holds at once (its device's own queue too), which is what a wake or no wait asks for.
    // A FIFO standing in for the node is read only when it says so: it reads as closed before its
    // writer comes.
    const bool asked = timeoutMs == 0 || (ready > 0 && p[1].revents != 0);
    const bool readable = (ready > 0 && p[0].revents != 0) || (characterDevice_ && asked);
    const std::size_t first = out.size(), scan = decoder_.scanSize();
    const auto dropped = [&] {
        return held_ == 0 ? std::string()
                          : "; the last " + std::to_string(held_) + " bytes, an incomplete scan, were dropped";
    };
    // A few reads at most, so that settings are looked at between batches even in a flood.
    for (int reads = 0; readable && reads < 8; ++reads) {
        const std::size_t room = buffer_.size() - held_;
        const ssize_t n = ::read(fd_, buffer_.data() + held_, room);
        if (n > 0) {
            // A real node hands out whole scans of its own size; pieces mean the sizes differ.
            if (characterDevice_ && std::size_t(n) % scan != 0)
                return fail("it gave " + std::to_string(n) + " bytes, not whole scans of " + std::to_string(scan)
                                + " bytes: its channels are laid out otherwise than they say",
                            error);
            const std::size_t total = held_ + std::size_t(n);
            const std::size_t used = decoder_.decode(buffer_.data(), total, out);
            held_ = total - used;
            std::memmove(buffer_.data(), buffer_.data() + used, held_);
            if (std::size_t(n) < room) break;
        } else if (n == 0) {
            return fail("the device is gone (its buffer was closed)" + dropped(), error);
        } else if (errno == EAGAIN) {
            break;
        } else if (errno != EINTR) {
            const std::string why = errno == ENODEV ? std::string("the device is gone (") + std::strerror(errno) + ")"
                                                    : "cannot read " + node_.string() + ": " + std::strerror(errno);
            return fail(why + dropped(), error);
        }
    }
    if (!decoder_.hasTimestamp() && out.size() > first) {
        // No kernel time stamps: the batch is spread back from now at the device's rate.
        const platform::Micros now = platform::Clock::now();
        for (std::size_t i = first, last = out.size() - 1; i <= last; ++i)
            out[i].timestamp = now - platform::Micros(std::llround(double(last - i) * 1e6 / rate_));
    }
    return true;
}

bool IioBufferSource::fail(const std::string& why, std::string& error)
{
    failed_ = true;
    failure_ = error = why;
    held_ = 0;
    return false;
}

void IioBufferSource::stopStreaming()
{
    std::lock_guard lock(lock_);
    stopLocked();
}

void IioBufferSource::stopLocked()
{
    if (fd_ < 0 && changed_.empty()) return;
    {
        std::lock_guard registry(active().lock);
        auto& sources = active().sources;
        sources.erase(std::remove(sources.begin(), sources.end(), this), sources.end());
    }
    // Backwards, so the buffer is disabled first: most attributes refuse changes while it runs.
    // A device that is gone refuses them all; nothing is left to put back then.
    std::string ignored;
    for (auto it = changed_.rbegin(); it != changed_.rend(); ++it) writeAttribute(it->file, it->before, ignored);
    changed_.clear();
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    held_ = 0;
}

void IioBufferSource::restoreAll()
{
    std::vector<IioBufferSource*> sources;
    {
        std::lock_guard registry(active().lock);
        sources = active().sources;
    }
    for (IioBufferSource* source : sources) {
        std::lock_guard lock(source->lock_);
        source->stopLocked();
    }
}

} // namespace sensors
