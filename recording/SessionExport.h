// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One export of a session, or of a stretch of it, to a .asc or CSV file, written on a thread of its
// own from a snapshot taken at the tap, so that recording and the window go on meanwhile; only
// samples stored before the tap are written.
#include <QObject>
#include <QString>

#include <atomic>
#include <optional>
#include <cstdint>
#include <string>
#include <thread>

#include "platform/store/SessionReader.h"

class SessionExport : public QObject {
    Q_OBJECT
public:
    enum class Format { asc, csv };
    struct Request {
        std::string storePath;
        std::string folder;
        std::string fileName;
        store::SessionSnapshot snapshot;
        Format format = Format::asc;
        // A stretch: the samples with from <= time <= to; its file never replaces another.
        std::optional<std::pair<platform::Micros, platform::Micros>> range;
        // For CSV: elapsed times count from the start; comment lines above the header.
        platform::Micros sessionStart = 0;
        std::string preamble;
    };

    explicit SessionExport(Request request, QObject* parent = nullptr);
    ~SessionExport() override; // waits for the writing to end

    void start();
    std::int64_t written() const { return written_.load(std::memory_order_relaxed); }
    // The samples to write; 0 when not known beforehand (a stretch).
    std::int64_t expected() const { return request_.range ? 0 : request_.snapshot.count; }
    std::string path() const { return request_.folder + "/" + request_.fileName; }

signals:
    // On the window's thread: the file is in place, or `message` says why not.
    void finished(bool ok, const QString& message, qint64 lines);

private:
    void run();
    template <class File>
    bool write(File& file, store::SessionReader& reader, std::string& problem);

    Request request_;
    std::atomic<std::int64_t> written_{0};
    std::jthread thread_;
};
