// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// How other Quivra commands reach the one that records into a store: it holds the store's lock,
// so they may not write the store themselves. While it runs it listens on a local socket of the
// user's own, named after the store; `quivra mark` and `quivra describe` send it one request a
// connection and it acts through its Recorder, at the moment the request arrives.
//
// A request is one line of URL-encoded pairs ("do=mark&text=valve%20closed&kind=event", or
// "do=describe&session=3&name=Run%201&machine=..."; a field left out is left as it is); the
// answer is one line, "ok ..." or "error: ...".
#include <QObject>
#include <QUrlQuery>
#include <QSocketNotifier>

#include <memory>
#include <optional>
#include <string>

class Recorder;

class ControlSocket : public QObject {
public:
    ControlSocket(Recorder& recorder, std::string storePath, QObject* parent = nullptr);
    ~ControlSocket() override;

    // Starts listening (the store's lock is held, so a socket left by a killed Quivra is
    // replaced); false, with the reason, when it cannot.
    bool listen(std::string& error);

    // The answer to one request, as the socket would give it.
    std::string answer(const std::string& request);

private:
    void accept();
    // Another text or kind for a marker; what is not given stays.
    std::string editMarker(const QUrlQuery& query);

    Recorder& recorder_;
    std::string path_;
    int fd_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
};

// Sends one request to the Quivra recording into the store and returns its answer; nothing, with
// `error` set, when none listens (no Quivra records there) or it did not answer.
std::optional<std::string> askRecorder(const std::string& storePath, const std::string& request, std::string& error);
