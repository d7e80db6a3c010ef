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
#include "platform/sensors/TextNumbers.h"

namespace sensors {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view devicePrefix = "iio:device";
constexpr const char* axisChannels[3] = {"in_accel_x", "in_accel_y", "in_accel_z"};
constexpr const char* timestampChannel = "in_timestamp";
constexpr double watermarkSeconds = 0.01; // the kernel wakes us about every 10 ms
constexpr double bufferSeconds = 1.0;     // room for a capture thread held up for a while
constexpr std::size_t readBytes = 64 * 1024;
constexpr const char* accessFix =
    "a udev rule such as SUBSYSTEM==\"iio\", GROUP=\"iio\", MODE=\"0660\" (with the buffer's "
    "attributes, see \"Access for a user\" in Quivra's README) gives them to the group iio; join that group";

fs::path firstPresent(std::initializer_list<fs::path> files)
{
    for (const fs::path& file : files)
        if (present(file))
            return file;
    return {};
}

std::string openError(const fs::path& node, int code)
{
    if (code == EACCES || code == EPERM)
        return "no access to " + node.string() + " (" + std::strerror(code) + "): " + accessFix;
    if (code == EBUSY)
        return node.string() + " is in use by another program (iio-sensor-proxy, perhaps)";
    return "cannot open " + node.string() + ": " + std::strerror(code);
}

// Enabled, and not as a Quivra that was killed leaves it (see takeOverIfLeft).
std::string alreadyEnabled(const fs::path& enable)
{
    return "its buffer is already enabled, by another program (iio-sensor-proxy, perhaps) or by one that "
           "ended without disabling it (then write 0 to " + enable.string() + ")";
}

// "6.25 12.5 25", or a range "[0.5 0.5 400]" of which the ends are taken; slowest first.
std::vector<double> parseRates(std::string text)
{
    const bool range = text.find('[') != std::string::npos;
    std::replace_if(text.begin(), text.end(), [](char c) { return c == '[' || c == ']' || c == '\t' || c == '\n'; }, ' ');
    std::vector<double> rates;
    for (std::size_t at = 0, end = 0; at < text.size(); at = end + 1) {
        end = std::min(text.find(' ', at), text.size());
        double rate = 0;
        if (parseFiniteNumber(std::string_view(text).substr(at, end - at), rate) && rate > 0)
            rates.push_back(rate);
    }
    if (range && rates.size() == 3)
        rates.erase(rates.begin() + 1);
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
    if (!polled)
        return nullptr;
    const fs::path& folder = polled->folder();
    const fs::path scanDir = present(folder / "buffer0/in_accel_x_en") ? folder / "buffer0" : folder / "scan_elements";
    const fs::path bufferDir = present(folder / "buffer0/enable") ? folder / "buffer0" : folder / "buffer";
    bool hasBuffer = present(bufferDir / "enable") && folder.filename().string().starts_with(devicePrefix);
    for (const char* axis : axisChannels)
        hasBuffer = hasBuffer && present(scanDir / (std::string(axis) + "_en"));
    if (!hasBuffer)
        return polled;

    std::unique_ptr<IioBufferSource> buffered(new IioBufferSource(std::move(polled), scanDir, bufferDir));
    std::string reason;
    if (buffered->usable(reason))
        return buffered;
    platform::log(buffered->name_ + ": reading by polling, not through its buffer: " + reason);
    return std::move(buffered->polled_);
}

IioBufferSource::IioBufferSource(std::unique_ptr<IioSource> polled, fs::path scanDir, fs::path bufferDir)
    : polled_(std::move(polled)), name_(polled_->deviceName()), scanDir_(std::move(scanDir)),
      bufferDir_(std::move(bufferDir)), node_(deviceNodes() / polled_->folder().filename())
{
    const fs::path& folder = polled_->folder();
    frequency_ = firstPresent({folder / "sampling_frequency", folder / "in_accel_sampling_frequency"});
    rates_ = parseRates(attributeText(firstPresent({folder / "sampling_frequency_available",
                                                folder / "in_accel_sampling_frequency_available"})));
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
    if (!takeOverIfLeft(reason))
        return false;
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

bool IioBufferSource::setUp(double rate, std::string& error)
{
    // The node first: held by us, nobody else reads the buffer (see takeOverIfLeft).
    fd_ = ::open(node_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) {
        error = openError(node_, errno);
        return false;
    }
    if (!takeOverIfLeft(error))
        return false;
    struct stat st {};
    characterDevice_ = ::fstat(fd_, &st) == 0 && S_ISCHR(st.st_mode);
    if (!chooseClock(error) || (!ownTrigger_.empty() && !change(trigger_, ownTrigger_, error)))
        return false;
    // Ours on, everything else off, so that the scans hold nothing we would skip.
    std::vector<fs::path> enables;
    std::error_code ec;
    for (fs::directory_iterator it(scanDir_, ec), end; !ec && it != end; it.increment(ec))
        if (it->path().filename().string().ends_with("_en"))
            enables.push_back(it->path());
    std::sort(enables.begin(), enables.end());
    for (const fs::path& file : enables) {
        const std::string name = file.filename().string(), stem = name.substr(0, name.size() - 3);
        const bool wanted = stem == timestampChannel || std::count(axisChannels, axisChannels + 3, stem) > 0;
        if (!change(file, wanted ? "1" : "0", error))
            return false;
    }
    if (!layOut(error))
        return false;

    rate_ = rate;
    if (!frequency_.empty()) {
        const auto nearer = [rate](double a, double b) { return std::fabs(a - rate) < std::fabs(b - rate); };
        const double chosen = rates_.empty() ? rate : *std::min_element(rates_.begin(), rates_.end(), nearer);
        std::string ignored;
        if (!change(frequency_, platform::shortestText(chosen), error))
            return false;
        if (!readNumberAttribute(frequency_, rate_, ignored) || !(rate_ > 0))
            rate_ = chosen;
    }
    const long watermark = std::max(1L, std::lround(rate_ * watermarkSeconds));
    const long length = std::max({4 * watermark, 64L, std::lround(rate_ * bufferSeconds)});
    if (present(bufferDir_ / "length") && !change(bufferDir_ / "length", std::to_string(length), error))
        return false;
    std::string ignored; // a fixed watermark (or none, before Linux 4.2) only wakes us more often
    if (present(bufferDir_ / "watermark"))
        change(bufferDir_ / "watermark", std::to_string(watermark), ignored);
    if (!change(bufferDir_ / "enable", "1", error))
        return false;
    buffer_.assign(std::max(readBytes, 4 * decoder_.scanSize()), 0);
    held_ = 0;
    return true;
}

bool IioBufferSource::takeOverIfLeft(std::string& reason) const
{
    const fs::path enable = bufferDir_ / "enable";
    if (attributeText(enable) != "1")
        return true;
    // Nobody reads it (the node could just be opened), and it holds what Quivra sets and nothing
    // else: its own channels alone, and the device's own trigger. That is how a Quivra that was
    // killed while recording leaves it; another program's set-up is left alone.
    bool quivras = ownTrigger_.empty() || attributeText(trigger_) == ownTrigger_;
    std::error_code ec;
    for (fs::directory_iterator it(scanDir_, ec), end; quivras && !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (!name.ends_with("_en"))
            continue;
        const std::string stem = name.substr(0, name.size() - 3);
        const bool ours = stem == timestampChannel || std::count(axisChannels, axisChannels + 3, stem) > 0;
        quivras = (attributeText(it->path()) == "1") == ours;
    }
    if (!quivras || ec) {
        reason = alreadyEnabled(enable);
        return false;
    }
    // Disabled, not recorded as a change: stopping leaves it disabled.
    if (!writeAttribute(enable, "0", reason))
        return false;
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
    if (!present(file) || attributeText(file) == "realtime" || change(file, "realtime", ignored))
        return true;
    // Not ours to change: its clock is put on the wall clock by their difference now.
    const std::string clock = attributeText(file);
    if (wallClockOffset(clock, clockOffsetNs_))
        return true;
    error = "its time stamps come from the clock '" + clock + "', which Quivra does not know";
    return false;
}

bool IioBufferSource::layOut(std::string& error)
{
    std::vector<ScanChannel> channels;
    const std::size_t size = readScanLayout(scanDir_, channels, error);
    if (size == 0)
        return false;
    // Kernels that still say how long a scan is must agree with the channels.
    double declared = 0;
    std::string ignored;
    if (present(bufferDir_ / "bytes_per_datum")
        && readNumberAttribute(bufferDir_ / "bytes_per_datum", declared, ignored) && declared != double(size)) {
        error = "its scans are " + platform::shortestText(declared) + " bytes, but its channels make " + std::to_string(size);
        return false;
    }
    std::array<const ScanChannel*, 3> axes{};
    const ScanChannel* timestamp = nullptr;
    for (const ScanChannel& channel : channels) {
        for (int axis = 0; axis < 3; ++axis)
            if (channel.name == axisChannels[axis])
                axes[axis] = &channel;
        if (channel.name == timestampChannel)
            timestamp = &channel;
    }
    for (int axis = 0; axis < 3; ++axis)
        if (!axes[axis]) {
            error = std::string(axisChannels[axis]) + " could not be enabled";
            return false;
        }
    for (const ScanChannel* channel : {axes[0], axes[1], axes[2], timestamp})
        if (channel && !fitsReading(*channel, channel == timestamp, error))
            return false;
    decoder_ = ScanDecoder(size, axes, timestamp, polled_->calibration(), clockOffsetNs_);
    return true;
}

bool IioBufferSource::change(const fs::path& file, const std::string& value, std::string& error)
{
    const std::string before = attributeText(file);
    if (before == value)
        return true;
    if (!writeAttribute(file, value, error)) {
        if (errno == EACCES || errno == EPERM)
            error += std::string("; ") + accessFix;
        return false;
    }
    changed_.push_back({file, before});
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
        return held_ == 0 ? std::string() : "; the last " + std::to_string(held_) + " bytes, an incomplete scan, were dropped";
    };
    // A few reads at most, so that settings are looked at between batches even in a flood.
    for (int reads = 0; readable && reads < 8; ++reads) {
        const std::size_t room = buffer_.size() - held_;
        const ssize_t n = ::read(fd_, buffer_.data() + held_, room);
        if (n > 0) {
            // A real node hands out whole scans of its own size; pieces mean the sizes differ.
            if (characterDevice_ && std::size_t(n) % scan != 0)
                return fail("it gave " + std::to_string(n) + " bytes, not whole scans of " + std::to_string(scan)
                                + " bytes: its channels are laid out otherwise than they say", error);
            const std::size_t total = held_ + std::size_t(n);
            const std::size_t used = decoder_.decode(buffer_.data(), total, out);
            held_ = total - used;
            std::memmove(buffer_.data(), buffer_.data() + used, held_);
            if (std::size_t(n) < room)
                break;
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
    if (fd_ < 0 && changed_.empty())
        return;
    {
        std::lock_guard registry(active().lock);
        auto& sources = active().sources;
        sources.erase(std::remove(sources.begin(), sources.end(), this), sources.end());
    }
    // Backwards, so the buffer is disabled first: most attributes refuse changes while it runs.
    // A device that is gone refuses them all; nothing is left to put back then.
    std::string ignored;
    for (auto it = changed_.rbegin(); it != changed_.rend(); ++it)
        writeAttribute(it->file, it->before, ignored);
    changed_.clear();
    if (fd_ >= 0)
        ::close(fd_);
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
