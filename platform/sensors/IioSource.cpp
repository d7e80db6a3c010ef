// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/sensors/IioSource.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

#include "platform/sensors/TextNumbers.h"

namespace sensors {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view devicePrefix = "iio:device";
constexpr const char* axisNames[3] = {"x", "y", "z"};

std::string rawFile(int axis)
{
    return std::string("in_accel_") + axisNames[axis] + "_raw";
}

} // namespace

// Opened afresh each time, since an attribute is produced when it is read.
bool readAttribute(const fs::path& file, std::string& text, std::string& error)
{
    // Non-blocking and regular files only: a FIFO put in place of an attribute must not hang us.
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        error = "cannot read " + file.filename().string() + ": " + std::strerror(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = "cannot read " + file.filename().string() + ": not a regular file";
        ::close(fd);
        return false;
    }
    text.clear();
    char buffer[256];
    constexpr std::size_t longest = 4096; // an attribute is one short line
    while (text.size() <= longest) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            error = "cannot read " + file.filename().string() + ": " + std::strerror(errno);
            ::close(fd);
            return false;
        }
        if (n == 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return true;
}

bool readNumberAttribute(const fs::path& file, double& value, std::string& error)
{
    std::string text;
    if (!readAttribute(file, text, error)) return false;
    if (!parseFiniteNumber(text, value)) {
        error = file.filename().string() + " holds '" + std::string(trimmed(text)) + "', not a number";
        return false;
    }
    return true;
}

bool writeAttribute(const fs::path& file, const std::string& value, std::string& error)
{
    const std::string text = value + "\n";
    const int fd = ::open(file.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NONBLOCK);
    struct stat st {};
    ssize_t n = -1;
    int code = errno;
    if (fd >= 0 && (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)))
        code = EINVAL;
    else if (fd >= 0) {
        do n = ::write(fd, text.data(), text.size());
        while (n < 0 && errno == EINTR);
        code = n < 0 ? errno : EIO;
    }
    if (fd >= 0) ::close(fd);
    if (n == ssize_t(text.size())) return true;
    error = "cannot set " + (file.parent_path().filename() / file.filename()).string() + " to " + value + ": "
            + std::strerror(code);
    errno = code;
    return false;
}

bool present(const fs::path& file)
{
    std::error_code ec;
    return fs::exists(file, ec);
}

std::string attributeText(const fs::path& file)
{
    std::string text, ignored;
    return readAttribute(file, text, ignored) ? std::string(trimmed(text)) : std::string();
}

namespace {

bool isAccelerometer(const fs::path& folder)
{
    for (int axis = 0; axis < 3; ++axis) {
        if (!present(folder / rawFile(axis))) return false;
    }
    return true;
}

// The device number of "iio:deviceN", or -1 for any other name.
long deviceNumber(std::string_view name)
{
    if (name.substr(0, devicePrefix.size()) != devicePrefix) return -1;
    name.remove_prefix(devicePrefix.size());
    if (name.empty() || !std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; })) return -1;
    return std::strtol(std::string(name).c_str(), nullptr, 10);
}

std::string driverName(const fs::path& folder)
{
    return attributeText(folder / "name");
}

// "a, b, c; d, e, f; g, h, i", row by row.
bool parseMatrix(std::string_view text, std::array<double, 9>& matrix)
{
    std::array<double, 9> m{};
    std::size_t index = 0;
    for (std::size_t row = 0; row < 3; ++row) {
        const auto rowEnd = text.find(';');
        if ((row < 2) == (rowEnd == std::string_view::npos)) return false;
        std::string_view rowText = text.substr(0, rowEnd);
        text = rowEnd == std::string_view::npos ? std::string_view{} : text.substr(rowEnd + 1);
        for (std::size_t column = 0; column < 3; ++column) {
            const auto end = rowText.find(',');
            if ((column < 2) == (end == std::string_view::npos)) return false;
            if (!parseFiniteNumber(rowText.substr(0, end), m[index++])) return false;
            rowText = end == std::string_view::npos ? std::string_view{} : rowText.substr(end + 1);
        }
    }
    matrix = m;
    return true;
}

} // namespace

fs::path IioSource::root()
{
    const char* overridden = std::getenv("QUIVRA_IIO_ROOT");
    return (overridden && *overridden) ? fs::path(overridden) : fs::path("/sys/bus/iio/devices");
}

std::vector<fs::path> IioSource::findAccelerometers()
{
    std::vector<std::pair<long, fs::path>> found;
    std::error_code ec;
    for (fs::directory_iterator it(root(), ec), end; !ec && it != end; it.increment(ec)) {
        const long number = deviceNumber(it->path().filename().string());
        if (number >= 0 && isAccelerometer(it->path())) found.emplace_back(number, it->path());
    }
    std::sort(found.begin(), found.end());
    std::vector<fs::path> folders;
    for (auto& entry : found) folders.push_back(std::move(entry.second));
    return folders;
}

std::unique_ptr<IioSource> IioSource::openFirst(std::string& error)
{
    const auto folders = findAccelerometers();
    if (folders.empty()) {
        error = "no IIO accelerometer found";
        return nullptr;
    }
    std::unique_ptr<IioSource> source(new IioSource(folders.front()));
    if (!source->load(error)) return nullptr;
    return source;
}

std::unique_ptr<IioSource> IioSource::open(std::string_view device, std::string& error)
{
    fs::path folder;
    std::string shownName;
    if (device.find('/') != std::string_view::npos) {
        folder = fs::path(device).lexically_normal();
        if (!folder.has_filename()) folder = folder.parent_path();
        shownName = std::string(device);
    } else {
        std::string name(device);
        if (name.rfind("iio:", 0) == 0) name.erase(0, 4);
        if (!name.empty() && std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; }))
            name = "device" + name;
        if (deviceNumber("iio:" + name) >= 0) {
            shownName = "iio:" + name;
            folder = root() / shownName;
        } else {
            // Not a device name: look for a driver of that name.
            shownName = std::string(device);
            for (const auto& candidate : findAccelerometers()) {
                if (driverName(candidate) == device) {
                    folder = candidate;
                    break;
                }
            }
        }
    }
    if (folder.empty() || !isAccelerometer(folder)) {
        error = "no IIO accelerometer '" + shownName + "'";
        return nullptr;
    }
    std::unique_ptr<IioSource> source(new IioSource(folder));
    if (!source->load(error)) return nullptr;
    return source;
}

IioSource::IioSource(fs::path folder) : folder_(std::move(folder)), driver_(driverName(folder_)) {}

bool IioSource::load(std::string& error)
{
    std::string reason;
    bool ok = true;
    // Without a scale the raw values are taken as m/s^2.
    double shared = 1;
    if (present(folder_ / "in_accel_scale")) ok = readNumberAttribute(folder_ / "in_accel_scale", shared, reason);
    double sharedOffset = 0;
    if (ok && present(folder_ / "in_accel_offset"))
        ok = readNumberAttribute(folder_ / "in_accel_offset", sharedOffset, reason);
    for (int axis = 0; ok && axis < 3; ++axis) {
        calibration_.scale[axis] = shared;
        calibration_.offset[axis] = sharedOffset;
        const fs::path scale = folder_ / (std::string("in_accel_") + axisNames[axis] + "_scale");
        if (present(scale)) ok = readNumberAttribute(scale, calibration_.scale[axis], reason);
        const fs::path offset = folder_ / (std::string("in_accel_") + axisNames[axis] + "_offset");
        if (ok && present(offset)) ok = readNumberAttribute(offset, calibration_.offset[axis], reason);
    }
    for (const char* file : {"in_accel_mount_matrix", "mount_matrix"}) {
        if (!ok || !present(folder_ / file)) continue;
        std::string text;
        ok = readAttribute(folder_ / file, text, reason);
        if (ok && !parseMatrix(text, calibration_.mount)) {
            reason = std::string(file) + " holds '" + std::string(trimmed(text)) + "', not a 3 x 3 matrix";
            ok = false;
        }
        break;
    }
    Acceleration check;
    if (ok) ok = read(check, reason);
    if (!ok) error = deviceName() + ": " + reason;
    return ok;
}

bool IioSource::read(Acceleration& out, std::string& error)
{
    double raw[3];
    for (int axis = 0; axis < 3; ++axis) {
        if (!readNumberAttribute(folder_ / rawFile(axis), raw[axis], error)) return false;
    }
    out = toG(calibration_, raw);
    return true;
}

std::string IioSource::dataReadyTrigger() const
{
    const std::string wanted = driver_ + "-dev" + std::to_string(deviceNumber(folder_.filename().string()));
    for (const fs::path& dir : {folder_.parent_path(), root()}) {
        std::error_code ec;
        for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
            if (it->path().filename().string().starts_with("trigger") && driverName(it->path()) == wanted)
                return wanted;
    }
    return {};
}

std::string IioSource::deviceName() const
{
    std::string text = "IIO accelerometer " + folder_.filename().string();
    if (!driver_.empty()) text += " (" + driver_ + ")";
    return text;
}

std::string IioSource::description() const
{
    return deviceName() + ", polled";
}

} // namespace sensors
