// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/TemporaryFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <random>
#include <string_view>

namespace platform {

namespace {
constexpr std::size_t kRandomLetters = 6;

// Whether the name still leads to the file open at fd.
bool stillNamed(int fd, const std::string& path)
{
    struct stat open {
    }, named{};
    return ::fstat(fd, &open) == 0 && ::stat(path.c_str(), &named) == 0 && open.st_dev == named.st_dev
           && open.st_ino == named.st_ino;
}
} // namespace

int createTemporaryFile(const std::string& folder, const std::string& name, std::string& tempPath, int& error)
{
    static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device seed;
    std::mt19937 random(seed());
    std::uniform_int_distribution<int> pick(0, sizeof kLetters - 2);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string candidate = folder + "/." + name + ".";
        for (std::size_t i = 0; i < kRandomLetters; ++i) candidate.push_back(kLetters[pick(random)]);
        int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) {
            error = errno;
            return -1;
        }
        if (fd < 0) continue;
        // Another writer's clean-up may have taken the file between its creation and the lock:
        // then it is gone, and another name is tried.
        while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {}
        if (stillNamed(fd, candidate)) {
            tempPath = std::move(candidate);
            return fd;
        }
        ::close(fd);
    }
    error = EEXIST;
    return -1;
}

void removeAbandonedTemporaries(const std::string& folder, const std::string& name)
{
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return;
    const std::string prefix = "." + name + ".";
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view file = entry->d_name;
        if (file.size() != prefix.size() + kRandomLetters || !file.starts_with(prefix)) continue;
        const std::string_view tail = file.substr(prefix.size());
        if (!std::all_of(tail.begin(), tail.end(), [](char c) { return std::isalnum(static_cast<unsigned char>(c)); }))
            continue;
        // Removed only while locked here: a writer still at work holds the lock.
        const int fd = ::openat(::dirfd(dir), entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        struct stat st {};
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0)
            ::unlinkat(::dirfd(dir), entry->d_name, 0);
        ::close(fd);
    }
    ::closedir(dir);
}

} // namespace platform
