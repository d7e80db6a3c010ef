#include "platform/AscFile.h"

#include "platform/NumberText.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <unistd.h>

namespace platform {

namespace {

constexpr std::size_t kBufferBytes = 256 * 1024;

constexpr char kHeader[] = "Date Code\tG-Force X [g]\tG-Force Y [g]\tG-Force Z [g]\n";

// Creates a new file named ".<name>.XXXXXX" in the folder. Unlike mkstemp, the mode follows the
// umask, so the finished export gets the same permissions as any other file the user saves.
int createTemporary(const std::string& folder, const std::string& name, std::string& tempPath,
                    int& error)
{
    static constexpr char kLetters[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device seed;
    std::mt19937 random(seed());
    std::uniform_int_distribution<int> pick(0, sizeof kLetters - 2);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string candidate = folder + "/." + name + ".";
        for (int i = 0; i < 6; ++i)
            candidate.push_back(kLetters[pick(random)]);
        int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            tempPath = std::move(candidate);
            return fd;
        }
        if (errno != EEXIST) {
            error = errno;
            return -1;
        }
    }
    error = EEXIST;
    return -1;
}

// Removes ".<name>.XXXXXX" files: temporaries of this target whose export was killed.
void removeLeftovers(const std::string& folder, const std::string& name)
{
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return;
    const std::string prefix = "." + name + ".";
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view file = entry->d_name;
        if (file.size() != prefix.size() + 6 || !file.starts_with(prefix)) continue;
        const std::string_view tail = file.substr(prefix.size());
        if (std::all_of(tail.begin(), tail.end(), [](char c) { return std::isalnum(static_cast<unsigned char>(c)); }))
            ::unlinkat(::dirfd(dir), entry->d_name, 0);
    }
    ::closedir(dir);
}

} // namespace

std::string ascFileName(Micros sessionStart, int ordinal)
{
    std::string name = formatDate(sessionStart, "yyyy-MM-dd-HH-mm-ss");
    if (ordinal > 1) name += "-" + std::to_string(ordinal);
    return name + ".asc";
}

AscFile::AscFile(std::string folder, Micros sessionStart, int ordinal)
    : AscFile(std::move(folder), ascFileName(sessionStart, ordinal))
{
}

AscFile::AscFile(std::string folder, std::string fileName)
    : folder_(std::move(folder)),
      path_(folder_ + "/" + fileName),
      dateCode_("yyyy-MM-dd HH:mm:ss.SSS")
{
}

AscFile::~AscFile()
{
    if (state_ == State::Open)
        removeTemporary();
}

bool AscFile::open()
{
    if (state_ != State::Idle) {
        if (state_ != State::Failed)
            fail("already opened");
        return false;
    }
    int error = 0;
    const std::string name = path_.substr(folder_.size() + 1);
    removeLeftovers(folder_, name);
    fd_ = createTemporary(folder_, name, tempPath_, error);
    if (fd_ < 0) {
        fail(error);
        return false;
    }
    state_ = State::Open;
    buffer_.resize(kBufferBytes);
    used_ = 0;
    buffer_[used_++] = static_cast<char>(0xFF);
    buffer_[used_++] = static_cast<char>(0xFE);
    appendAscii(kHeader, sizeof kHeader - 1);
    return true;
}

void AscFile::addSample(Micros t, float x, float y, float z)
{
    if (state_ != State::Open) {
        if (state_ == State::Idle || state_ == State::Committed)
            fail("not open");
        return;
    }
    line_.clear();
    dateCode_.appendDate(line_, t);
    char numbers[3 * (kNumberTextMax + 1) + 1];
    char* p = numbers;
    for (float v : {x, y, z}) {
        *p++ = '\t';
        p = appendNumberText(p, v);
    }
    *p++ = '\n';
    line_.append(numbers, p);
    if (buffer_.size() - used_ < 2 * line_.size() && !flush())
        return;
    appendAscii(line_.data(), line_.size());
    ++lines_;
}

bool AscFile::commit()
{
    if (state_ != State::Open) {
        if (state_ != State::Failed)
            fail(state_ == State::Idle ? "not open" : "already committed");
        return false;
    }
    if (!flush())
        return false;
    if (::fsync(fd_) != 0) {
        fail(errno);
        return false;
    }
    int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) {
        fail(errno);
        return false;
    }
    if (std::rename(tempPath_.c_str(), path_.c_str()) != 0) {
        fail(errno);
        return false;
    }
    state_ = State::Committed;
    // Makes the new name itself durable. The file is already in place, so a failure here changes
    // nothing the caller could act on.
    int dir = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    buffer_ = {};
    return true;
}

// ASCII in, UTF-16 little-endian out: each character is its byte and a zero byte.
// The caller has made sure there is room.
void AscFile::appendAscii(const char* text, std::size_t length)
{
    char* out = buffer_.data() + used_;
    for (std::size_t i = 0; i < length; ++i) {
        out[2 * i] = text[i];
        out[2 * i + 1] = 0;
    }
    used_ += 2 * length;
}

bool AscFile::flush()
{
    std::size_t done = 0;
    while (done < used_) {
        ssize_t n = ::write(fd_, buffer_.data() + done, used_ - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            fail(errno);
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    used_ = 0;
    return true;
}

void AscFile::fail(int errorNumber)
{
    fail(std::strerror(errorNumber));
}

void AscFile::fail(const char* reason)
{
    if (state_ == State::Open)
        removeTemporary();
    if (state_ != State::Committed)
        state_ = State::Failed;
    if (error_.empty())
        error_ = "cannot write " + path_ + ": " + reason;
    buffer_ = {};
}

void AscFile::removeTemporary()
{
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    ::unlink(tempPath_.c_str());
}

} // namespace platform
