// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Folders.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <cstdlib>
#include <filesystem>
#include <pwd.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace platform {

namespace {
std::string environment(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}
} // namespace

std::string homeDirectory()
{
    std::string home = environment("HOME");
    if (!home.empty()) return home;
    // Without HOME the store must not end up under "/": ask the password database.
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(std::size_t(size > 0 ? size : 16384));
    struct passwd entry {};
    struct passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir)
        return found->pw_dir;
    return "/";
}

bool ensureDirectory(const std::string& path, std::string* error)
{
    std::error_code ec;
    std::filesystem::create_directories(path, ec);
    std::error_code statError;
    if (std::filesystem::is_directory(path, statError)) return true;
    if (error)
        *error = path + ": "
                 + (ec          ? ec
                    : statError ? statError
                                : std::make_error_code(std::errc::not_a_directory))
                       .message();
    return false;
}

std::string libraryDirectory()
{
    const std::string data = environment("XDG_DATA_HOME");
    const std::string base = !data.empty() && data.front() == '/' ? data : homeDirectory() + "/.local/share";
    return base + "/Quivra";
}

std::string storePath()
{
    return libraryDirectory() + "/Quivra.sqlite";
}

std::string documentsDirectory()
{
    if (environment("HOME").empty()) return homeDirectory() + "/Documents";
    QString dir = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return dir.isEmpty() ? homeDirectory() + "/Documents" : dir.toStdString();
}

bool prepareDocumentsDirectory(std::string& folder, std::string& error)
{
    folder = documentsDirectory();
    std::string problem;
    if (ensureDirectory(folder, &problem)) return true;
    error = "cannot use the documents folder " + problem;
    return false;
}

std::string storeSocketPath(const std::string& storePath, const std::string& purpose)
{
    // The store's own file, as the lock finds it, when it exists; its path as given otherwise.
    const QFileInfo info(QString::fromStdString(storePath));
    const QString canonical = info.canonicalFilePath();
    const QString store = canonical.isEmpty() ? info.absoluteFilePath() : canonical;
    const QByteArray hash = QCryptographicHash::hash(store.toUtf8(), QCryptographicHash::Sha256).toHex().left(16);
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    const QString folder = !runtime.isEmpty() && QDir::isAbsolutePath(QString::fromLocal8Bit(runtime))
                               ? QString::fromLocal8Bit(runtime)
                               : QDir::tempPath() + "/quivra-" + QString::number(::getuid());
    return (folder + "/quivra-" + QString::fromLatin1(hash)
            + (purpose.empty() ? "" : "-" + QString::fromStdString(purpose)) + ".socket")
        .toStdString();
}

} // namespace platform
