// SPDX-License-Identifier: GPL-3.0-or-later
#include "recording/SessionExport.h"

#include "platform/AscFile.h"

SessionExport::SessionExport(Request request, QObject* parent) : QObject(parent), request_(std::move(request)) {}

SessionExport::~SessionExport()
{
    if (thread_.joinable()) thread_.join();
}

void SessionExport::start()
{
    thread_ = std::jthread([this] { run(); });
}

void SessionExport::run()
{
    auto report = [this](bool ok, const std::string& message, std::int64_t lines) {
        QMetaObject::invokeMethod(
            this, [this, ok, text = QString::fromStdString(message), lines] { emit finished(ok, text, lines); },
            Qt::QueuedConnection);
    };
    store::SessionReader reader;
    store::StoreError error;
    if (!reader.open(request_.storePath, error)) {
        report(false, "cannot read the session from the store: " + error.describe(), 0);
        return;
    }
    // Streamed line by line into a temporary file that replaces the target only when complete.
    platform::AscFile file(request_.folder, request_.fileName);
    if (!file.open()) {
        report(false, file.error(), 0);
        return;
    }
    const bool read = reader.forEach(
        request_.snapshot,
        [&](const store::SampleValues& s) {
            file.addSample(s.dateStamp, s.x, s.y, s.z);
            written_.fetch_add(1, std::memory_order_relaxed);
            return true;
        },
        error);
    if (!read) {
        report(false, "cannot read the session from the store: " + error.describe(), 0);
        return;
    }
    if (!file.commit()) {
        report(false, file.error(), 0);
        return;
    }
    report(true, file.path(), std::int64_t(file.linesWritten()));
}
