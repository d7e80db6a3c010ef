// SPDX-License-Identifier: GPL-3.0-or-later
#include "recording/SessionExport.h"

#include "platform/AscFile.h"
#include "platform/CsvFile.h"

#include <limits>
#include <type_traits>

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
    std::string problem;
    if (request_.format == Format::asc) {
        platform::AscFile file(request_.folder, request_.fileName);
        if (write(file, reader, problem)) return report(true, file.path(), std::int64_t(file.linesWritten()));
    } else {
        platform::CsvFile file(request_.folder, request_.fileName, platform::CsvTimes::both, request_.sessionStart);
        if (write(file, reader, problem)) return report(true, file.path(), std::int64_t(file.linesWritten()));
    }
    report(false, problem, 0);
}

// Streamed line by line into a temporary file that takes the target's place only when complete.
template <class File>
bool SessionExport::write(File& file, store::SessionReader& reader, std::string& problem)
{
    if (request_.range) file.keepExisting();
    bool opened = false;
    if constexpr (std::is_same_v<File, platform::CsvFile>)
        opened = file.open(request_.preamble);
    else
        opened = file.open();
    if (!opened) {
        problem = file.error();
        return false;
    }
    const auto [from, to] = request_.range.value_or(
        std::pair(std::numeric_limits<platform::Micros>::min(), std::numeric_limits<platform::Micros>::max()));
    store::StoreError error;
    const bool read = reader.forEachBetween(
        request_.snapshot, from, to,
        [&](const store::SampleValues& s) {
            file.addSample(s.dateStamp, s.x, s.y, s.z);
            written_.fetch_add(1, std::memory_order_relaxed);
            return true;
        },
        error);
    if (!read) {
        problem = "cannot read the session from the store: " + error.describe();
        return false;
    }
    if (!file.commit()) {
        problem = file.error();
        return false;
    }
    return true;
}
