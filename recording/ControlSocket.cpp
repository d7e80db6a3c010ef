// SPDX-License-Identifier: GPL-3.0-or-later
#include "recording/ControlSocket.h"

#include <QUrlQuery>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>

#include "platform/Folders.h"
#include "recording/Recorder.h"
#include "recording/SessionText.h"

namespace {

constexpr std::size_t kRequestMax = 64 * 1024;

bool socketAddress(const std::string& path, sockaddr_un& address)
{
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

// Waits at most a second for each part, so that a stalled peer never holds up recording long.
void setTimeouts(int fd)
{
    timeval second{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &second, sizeof second);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &second, sizeof second);
}

bool readLine(int fd, std::string& line)
{
    char buffer[4096];
    while (line.find('\n') == std::string::npos && line.size() < kRequestMax) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        line.append(buffer, std::size_t(n));
    }
    const std::size_t end = line.find('\n');
    if (end == std::string::npos) return false;
    line.resize(end);
    return true;
}

void writeAll(int fd, const std::string& text)
{
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        done += std::size_t(n);
    }
}

std::string value(const QUrlQuery& query, const char* key)
{
    return query.queryItemValue(key, QUrl::FullyDecoded).toStdString();
}

} // namespace

ControlSocket::ControlSocket(Recorder& recorder, std::string storePath, QObject* parent)
    : QObject(parent), recorder_(recorder), path_(platform::storeSocketPath(storePath, "control"))
{}

ControlSocket::~ControlSocket()
{
    notifier_.reset();
    if (fd_ >= 0) {
        ::close(fd_);
        ::unlink(path_.c_str());
    }
}

bool ControlSocket::listen(std::string& error)
{
    sockaddr_un address;
    if (!socketAddress(path_, address)) {
        error = "the socket's path is too long: " + path_;
        return false;
    }
    const std::filesystem::path folder = std::filesystem::path(path_).parent_path();
    if (!platform::ensureDirectory(folder.string(), &error)) return false;
    ::chmod(folder.c_str(), 0700);
    fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd_ < 0) {
        error = std::strerror(errno);
        return false;
    }
    ::unlink(path_.c_str());
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd_, 8) != 0) {
        error = "cannot listen on " + path_ + ": " + std::strerror(errno);
        ::close(fd_);
        fd_ = -1;
        return false;
    }
    ::chmod(path_.c_str(), 0600);
    notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &ControlSocket::accept);
    return true;
}

void ControlSocket::accept()
{
    const int peer = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (peer < 0) return;
    // Only the user's own commands: the folder is theirs, and the peer is checked too.
    ucred credentials{};
    socklen_t size = sizeof credentials;
    std::string request;
    if (::getsockopt(peer, SOL_SOCKET, SO_PEERCRED, &credentials, &size) == 0 && credentials.uid == ::getuid()) {
        setTimeouts(peer);
        if (readLine(peer, request)) writeAll(peer, answer(request) + "\n");
    }
    ::close(peer);
}

std::string ControlSocket::answer(const std::string& request)
{
    const QUrlQuery query(QString::fromStdString(request));
    const std::string action = value(query, "do");
    if (action == "mark") {
        std::optional<store::MarkerRecord::Kind> kind = store::MarkerRecord::Kind::event;
        if (query.hasQueryItem("kind")) kind = store::markerKindFromName(value(query, "kind"));
        if (!kind) return "error: a marker's kind is event, start or end";
        const store::ObjectId marker = recorder_.addMarker(value(query, "text"), *kind);
        if (marker == 0) return "error: there is no active session to mark";
        return "ok " + std::to_string(recorder_.root().options().activeSession().objectId()) + " "
               + std::to_string(marker);
    }
    if (action == "describe") {
        const std::string id = value(query, "session");
        store::ObjectId number = 0;
        std::from_chars(id.data(), id.data() + id.size(), number);
        Session session;
        if (id == "active")
            session = recorder_.root().options().activeSession();
        else if (number > 0 && recorder_.root().managedObjectContext()->session(number))
            session = Session(recorder_.root().managedObjectContext(), number);
        if (!session) return "error: there is no session " + id + " (see quivra sessions)";
        store::SessionIdentity identity = session.identity();
        const std::pair<const char*, std::string*> fields[] = {{"name", &identity.name},
                                                               {"machine", &identity.machine},
                                                               {"point", &identity.point},
                                                               {"direction", &identity.direction},
                                                               {"notes", &identity.notes}};
        for (const auto& [key, field] : fields)
            if (query.hasQueryItem(key)) *field = value(query, key);
        recorder_.describeSession(session, identity);
        return "ok " + std::to_string(session.objectId());
    }
    if (action == "edit") return editMarker(query);
    return "error: unknown request";
}

std::string ControlSocket::editMarker(const QUrlQuery& query)
{
    const std::string id = value(query, "marker");
    store::ObjectId number = 0;
    std::from_chars(id.data(), id.data() + id.size(), number);
    const store::MarkerRecord* found = recorder_.root().managedObjectContext()->marker(number);
    if (!found) return "error: there is no marker " + id + " (see quivra markers)";
    std::optional<store::MarkerRecord::Kind> kind = found->kind;
    if (query.hasQueryItem("kind")) kind = store::markerKindFromName(value(query, "kind"));
    if (!kind) return "error: a marker's kind is event, start or end";
    const store::ObjectId session = found->session;
    recorder_.editMarker(number, *kind, query.hasQueryItem("text") ? value(query, "text") : found->text);
    return "ok " + std::to_string(session) + " " + std::to_string(number);
}

std::optional<std::string> askRecorder(const std::string& storePath, const std::string& request, std::string& error)
{
    sockaddr_un address;
    const std::string path = platform::storeSocketPath(storePath, "control");
    if (!socketAddress(path, address)) {
        error = "the socket's path is too long: " + path;
        return std::nullopt;
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = std::strerror(errno);
        return std::nullopt;
    }
    std::string line;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        error = "no Quivra records into the store";
    } else {
        setTimeouts(fd);
        writeAll(fd, request + "\n");
        if (!readLine(fd, line)) error = "the Quivra recording into the store did not answer";
    }
    ::close(fd);
    if (!error.empty()) return std::nullopt;
    return line;
}
