// SPDX-License-Identifier: GPL-3.0-or-later
#include "recording/SessionAnalysis.h"

#include <memory>

#include "analysis/SessionWalk.h"

SessionAnalysis::SessionAnalysis(Request request, QObject* parent) : QObject(parent), request_(std::move(request)) {}

SessionAnalysis::~SessionAnalysis()
{
    stop_ = true;
    if (thread_.joinable()) thread_.join();
}

void SessionAnalysis::start()
{
    thread_ = std::jthread([this] {
        auto result = std::make_shared<analysis::Result>();
        std::string message;
        const bool ok = analyse(request_, *result, message, &stop_);
        if (stop_) return;
        QMetaObject::invokeMethod(
            this, [this, ok, result, text = QString::fromStdString(message)] { emit finished(ok, *result, text); },
            Qt::QueuedConnection);
    });
}

bool SessionAnalysis::analyse(const Request& request, analysis::Result& result, std::string& message,
                              const std::atomic<bool>* stop)
{
    store::SessionReader reader;
    store::StoreError error;
    if (!reader.open(request.storePath, error)) {
        message = "cannot read the store: " + error.describe();
        return false;
    }
    // Time stamps that give no rate are analysed at a nominal one a second rather than not at all.
    analysis::SessionWalk walk(request.options.settings, [](std::size_t) { return 1.0; });
    const bool read = reader.forEach(
        request.snapshot,
        [&](const store::SampleValues& v) {
            if (stop && stop->load(std::memory_order_relaxed)) return false;
            if (v.dateStamp < request.from) return true;
            if (request.to && v.dateStamp > request.to) return false; // in time order: the rest is later
            walk.add(v.dateStamp, v.x, v.y, v.z);
            return true;
        },
        error);
    if (!read) {
        message = "cannot read the session from the store: " + error.describe();
        return false;
    }
    result = walk.result();
    return true;
}
