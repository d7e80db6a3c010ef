// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A fake IIO accelerometer: a sysfs tree in a temporary folder (found through $QUIVRA_IIO_ROOT)
// and a FIFO standing in for its device node (in $QUIVRA_IIO_DEV), into which the test writes
// binary scans, as the kernel would hand them out.
#include <QTemporaryDir>

#include <fcntl.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>

namespace fake {

namespace fs = std::filesystem;

// Stores `value` in `bytes` storage bytes at `offset`, in the given byte order.
inline void put(std::string& scan, std::size_t offset, int bytes, bool bigEndian, std::uint64_t value)
{
    for (int i = 0; i < bytes; ++i)
        scan[offset + std::size_t(bigEndian ? bytes - 1 - i : i)] = char((value >> (8 * i)) & 0xff);
}

// One scan of three le:s16/16>>0 axes and a time stamp in nanoseconds: 16 bytes.
inline std::string scan16(int x, int y, int z, std::int64_t ns)
{
    std::string scan(16, '\0');
    put(scan, 0, 2, false, std::uint64_t(x));
    put(scan, 2, 2, false, std::uint64_t(y));
    put(scan, 4, 2, false, std::uint64_t(z));
    put(scan, 8, 8, false, std::uint64_t(ns));
    return scan;
}

class Tree {
public:
    Tree()
    {
        std::signal(SIGPIPE, SIG_IGN); // a writer whose reader went gets EPIPE instead
        fs::create_directories(path("sys"));
        fs::create_directories(path("dev"));
        setenv("QUIVRA_IIO_ROOT", path("sys").c_str(), 1);
        setenv("QUIVRA_IIO_DEV", path("dev").c_str(), 1);
    }
    ~Tree()
    {
        unsetenv("QUIVRA_IIO_ROOT");
        unsetenv("QUIVRA_IIO_DEV");
    }
    std::string path(const std::string& relative) const
    {
        return (fs::path(dir_.path().toStdString()) / relative).string();
    }
    void write(const std::string& relative, const std::string& text) const
    {
        fs::create_directories(fs::path(path(relative)).parent_path());
        std::ofstream(path(relative), std::ios::binary | std::ios::trunc) << text;
    }
    std::string read(const std::string& relative) const { return contents(path(relative)); }
    // Every attribute under sys/, by path: what a source must leave as it found it.
    std::map<std::string, std::string> attributes() const
    {
        std::map<std::string, std::string> all;
        for (const auto& entry : fs::recursive_directory_iterator(path("sys")))
            if (entry.is_regular_file()) all[entry.path().string()] = contents(entry.path());
        return all;
    }

    // "sys/iio:deviceN" named `name`: x, y and z of `axisType` at indexes 0-2, the time stamp at
    // 3 (if wanted), a temperature that was left enabled, a trigger of its own, a 100 Hz rate of a
    // list, time stamps on the monotonic clock; and its FIFO node. Returns the folder.
    std::string addBuffered(int n, const std::string& name, const std::string& axisType = "le:s16/16>>0",
                            bool timestamp = true) const
    {
        const std::string d = "sys/iio:device" + std::to_string(n) + "/";
        write(d + "name", name + "\n");
        for (const char* axis : {"x", "y", "z"}) {
            const int index = *axis - 'x';
            write(d + "in_accel_" + axis + "_raw", "0\n");
            write(d + "scan_elements/in_accel_" + axis + "_en", "0\n");
            write(d + "scan_elements/in_accel_" + axis + "_index", std::to_string(index) + "\n");
            write(d + "scan_elements/in_accel_" + axis + "_type", axisType + "\n");
        }
        write(d + "in_accel_scale", "0.5\n");
        if (timestamp) {
            write(d + "scan_elements/in_timestamp_en", "0\n");
            write(d + "scan_elements/in_timestamp_index", "3\n");
            write(d + "scan_elements/in_timestamp_type", "le:s64/64>>0\n");
        }
        write(d + "scan_elements/in_temp_en", "1\n");
        write(d + "scan_elements/in_temp_index", "4\n");
        write(d + "scan_elements/in_temp_type", "le:s16/16>>0\n");
        write(d + "buffer/enable", "0\n");
        write(d + "buffer/length", "2\n");
        write(d + "buffer/watermark", "1\n");
        write(d + "sampling_frequency", "100\n");
        write(d + "sampling_frequency_available", "12.5 25 50 100 200 400 800 1600 3200\n");
        write(d + "current_timestamp_clock", "monotonic\n");
        write(d + "trigger/current_trigger", "\n");
        write("sys/trigger0/name", "other-dev7\n");
        write("sys/trigger" + std::to_string(n + 1) + "/name", name + "-dev" + std::to_string(n) + "\n");
        ::mkfifo(node(n).c_str(), 0600);
        return path(d.substr(0, d.size() - 1));
    }
    std::string node(int n) const { return path("dev/iio:device" + std::to_string(n)); }

private:
    static std::string contents(const fs::path& file)
    {
        std::ifstream in(file, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    QTemporaryDir dir_;
};

// The kernel's side of the node: writes scans once the source has opened the node and enabled
// the buffer, as a device delivers them only then.
class Feeder {
public:
    Feeder(std::string node, std::string enable) : node_(std::move(node)), enable_(std::move(enable)) {}
    ~Feeder() { close(); }

    // Waits (up to `timeout`) for a reader with its buffer enabled.
    bool connect(std::chrono::milliseconds timeout = std::chrono::seconds(30))
    {
        close();
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < deadline) {
            if (fd_ < 0) fd_ = ::open(node_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            std::ifstream enable(enable_);
            int enabled = 0;
            if (fd_ >= 0 && enable >> enabled && enabled == 1) {
                ::fcntl(fd_, F_SETFL, 0); // blocking from now on: a slow reader slows us, loses nothing
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return false;
    }
    // How long write() waits for a reader that went to come back.
    std::chrono::milliseconds reconnect = std::chrono::seconds(30);

    // Writes it all; a reader that went (and came back) is waited for again.
    bool write(const std::string& bytes)
    {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = fd_ < 0 ? -1 : ::write(fd_, bytes.data() + done, bytes.size() - done);
            if (n > 0)
                done += std::size_t(n);
            else if (n < 0 && errno == EINTR)
                continue;
            else if (!connect(reconnect))
                return false;
        }
        return true;
    }
    void close()
    {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    std::string node_, enable_;
    int fd_ = -1;
};

// Root may open any file. For as long as this lives, the calling thread gives that up, so that
// refused permissions can be tested as root too.
class WithoutOverride {
public:
    WithoutOverride()
    {
        header_.version = _LINUX_CAPABILITY_VERSION_3;
        if (::syscall(SYS_capget, &header_, saved_) != 0) return;
        __user_cap_data_struct reduced[2] = {saved_[0], saved_[1]};
        reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH) | (1u << CAP_FOWNER));
        ok_ = ::syscall(SYS_capset, &header_, reduced) == 0;
    }
    ~WithoutOverride()
    {
        if (ok_) ::syscall(SYS_capset, &header_, saved_);
    }
    bool ok() const { return ok_; }

private:
    __user_cap_header_struct header_{};
    __user_cap_data_struct saved_[2]{};
    bool ok_ = false;
};

} // namespace fake
