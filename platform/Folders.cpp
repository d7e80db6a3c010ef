#include "platform/Folders.h"

#include <QDir>
#include <QStandardPaths>

#include <cstdlib>
#include <system_error>
#include <filesystem>

namespace platform {

namespace {
std::string home()
{
    const char* h = std::getenv("HOME");
    return h && *h ? h : QDir::homePath().toStdString();
}
} // namespace

bool ensureDirectory(const std::string& path, std::string* error)
{
    std::error_code ec;
    std::filesystem::create_directories(path, ec);
    if (ec && !std::filesystem::is_directory(path)) {
        if (error) *error = ec.message();
        return false;
    }
    return true;
}

std::string libraryDirectory()
{
    const char* data = std::getenv("XDG_DATA_HOME");
    std::string base = data && *data ? std::string(data) : home() + "/.local/share";
    std::string dir = base + "/Quivra";
    ensureDirectory(dir);
    return dir;
}

std::string documentsDirectory()
{
    QString dir = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (dir.isEmpty()) dir = QString::fromStdString(home()) + "/Documents";
    std::string path = dir.toStdString();
    ensureDirectory(path);
    return path;
}

} // namespace platform
