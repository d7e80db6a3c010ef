// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One export of a session to its .asc file, written on a thread of its own from a snapshot taken
// at the tap, so that recording and the window go on meanwhile; only samples stored before the
// tap are written.
#include <QObject>
#include <QString>

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include "platform/store/SessionReader.h"

class SessionExport : public QObject {
    Q_OBJECT
public:
    struct Request {
        std::string storePath;
        std::string folder;
        std::string fileName;
        store::SessionSnapshot snapshot;
    };

    explicit SessionExport(Request request, QObject* parent = nullptr);
    ~SessionExport() override; // waits for the writing to end

    void start();
    std::int64_t written() const { return written_.load(std::memory_order_relaxed); }
    std::int64_t expected() const { return request_.snapshot.count; }
    std::string path() const { return request_.folder + "/" + request_.fileName; }

signals:
    // On the window's thread: the file is in place, or `message` says why not.
    void finished(bool ok, const QString& message, qint64 lines);

private:
    void run();

    Request request_;
    std::atomic<std::int64_t> written_{0};
    std::jthread thread_;
};
