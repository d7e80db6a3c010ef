// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/sensors/ReplaySource.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/sensors/TextNumbers.h"

namespace sensors {

namespace {

constexpr std::string_view exportHeaderStart = "Date Code\t";

void appendUtf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

// UTF-16 little-endian (after its byte-order mark) as UTF-8; a lone surrogate becomes U+FFFD.
std::string fromUtf16le(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size() / 2);
    auto unit = [&](std::size_t i) {
        return static_cast<char16_t>(static_cast<unsigned char>(bytes[i])
                                     | (static_cast<unsigned char>(bytes[i + 1]) << 8));
    };
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const char16_t u = unit(i);
        if (u >= 0xD800 && u < 0xDC00 && i + 3 < bytes.size()) {
            const char16_t low = unit(i + 2);
            if (low >= 0xDC00 && low < 0xE000) {
                appendUtf8(out, 0x10000 + ((char32_t(u) - 0xD800) << 10) + (low - 0xDC00));
                i += 2;
                continue;
            }
        }
        appendUtf8(out, (u >= 0xD800 && u < 0xE000) ? char32_t(0xFFFD) : char32_t(u));
    }
    return out;
}

// Splits a plain-text line into fields: at commas when it has any, else at runs of blanks.
std::vector<std::string_view> plainFields(std::string_view line)
{
    std::vector<std::string_view> fields;
    if (line.find(',') != std::string_view::npos) {
        for (;;) {
            const auto comma = line.find(',');
            fields.push_back(trimmed(line.substr(0, comma)));
            if (comma == std::string_view::npos) break;
            line.remove_prefix(comma + 1);
        }
        return fields;
    }
    constexpr std::string_view blanks = " \t";
    for (auto start = line.find_first_not_of(blanks); start != std::string_view::npos;
         start = line.find_first_not_of(blanks, start)) {
        const auto end = line.find_first_of(blanks, start);
        fields.push_back(line.substr(start, end - start));
        start = end;
    }
    return fields;
}

std::vector<std::string_view> tabFields(std::string_view line)
{
    std::vector<std::string_view> fields;
    for (;;) {
        const auto tab = line.find('\t');
        fields.push_back(line.substr(0, tab));
        if (tab == std::string_view::npos) return fields;
        line.remove_prefix(tab + 1);
    }
}

bool threeNumbers(const std::vector<std::string_view>& fields, std::size_t first, Acceleration& out)
{
    if (fields.size() != first + 3) return false;
    return parseFiniteNumber(fields[first], out.x) && parseFiniteNumber(fields[first + 1], out.y)
           && parseFiniteNumber(fields[first + 2], out.z);
}

} // namespace

bool ReplaySource::parse(std::string_view bytes, const std::string& name, std::vector<Acceleration>& readings,
                         std::string& error)
{
    std::string text;
    if (bytes.substr(0, 2) == "\xFF\xFE") {
        text = fromUtf16le(bytes.substr(2));
    } else {
        if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
        text = std::string(bytes);
    }

    std::vector<Acceleration> found;
    std::string_view rest = text;
    bool exportFile = false;
    for (std::size_t number = 1; !rest.empty(); ++number) {
        const auto end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.size() > maxLineBytes) {
            error = "replay file " + name + ", line " + std::to_string(number) + ": longer than "
                    + std::to_string(maxLineBytes) + " characters";
            return false;
        }

        if (number == 1 && line.substr(0, exportHeaderStart.size()) == exportHeaderStart) {
            exportFile = true;
            continue;
        }
        const std::string_view content = trimmed(line);
        if (content.empty() || (!exportFile && content.front() == '#')) continue;

        Acceleration reading;
        const bool ok =
            exportFile ? threeNumbers(tabFields(line), 1, reading) : threeNumbers(plainFields(content), 0, reading);
        if (!ok) {
            error = "replay file " + name + ", line " + std::to_string(number)
                    + (exportFile ? ": expected a date code and three numbers" : ": expected three numbers");
            return false;
        }
        found.push_back(reading);
    }
    if (found.empty()) {
        error = "replay file " + name + " has no readings";
        return false;
    }
    readings = std::move(found);
    return true;
}

std::unique_ptr<ReplaySource> ReplaySource::load(const std::string& path, std::string& error)
{
    // Non-blocking, so that a FIFO without a writer cannot hang the start; only regular files
    // are read, since a device such as /dev/zero never ends.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        error = "cannot read replay file " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    struct stat st {};
    std::string contents;
    std::string problem;
    if (::fstat(fd, &st) != 0) {
        problem = std::strerror(errno);
    } else if (S_ISDIR(st.st_mode)) {
        problem = "it is a folder";
    } else if (!S_ISREG(st.st_mode)) {
        problem = "not a regular file";
    } else if (st.st_size > maxFileBytes) {
        problem = "too large (at most " + std::to_string(maxFileBytes >> 20) + " MiB)";
    } else {
        contents.resize(std::size_t(st.st_size));
        std::size_t done = 0;
        while (done < contents.size()) {
            const ssize_t n = ::read(fd, contents.data() + done, contents.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                problem = std::strerror(errno);
                break;
            }
            if (n == 0) break;
            done += std::size_t(n);
        }
        contents.resize(done);
    }
    ::close(fd);
    if (!problem.empty()) {
        error = "cannot read replay file " + path + ": " + problem;
        return nullptr;
    }
    std::vector<Acceleration> readings;
    if (!parse(contents, path, readings, error)) return nullptr;
    return std::unique_ptr<ReplaySource>(
        new ReplaySource(std::filesystem::path(path).filename().string(), std::move(readings)));
}

ReplaySource::ReplaySource(std::string fileName, std::vector<Acceleration> readings)
    : fileName_(std::move(fileName)), readings_(std::move(readings))
{}

bool ReplaySource::read(Acceleration& out, std::string&)
{
    out = readings_[next_];
    next_ = (next_ + 1) % readings_.size();
    return true;
}

std::string ReplaySource::description() const
{
    return "replay of " + fileName_;
}

} // namespace sensors
