// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The analysis of a stored session (all of it, or its last seconds), walked through a read-only
// connection on a thread of its own with bounded memory, while the window and recording go on.
#include <QObject>
#include <QString>

#include <atomic>
#include <string>
#include <thread>

#include "recording/AnalysisOptions.h"
#include "analysis/Result.h"
#include "platform/store/SessionReader.h"

class SessionAnalysis : public QObject {
    Q_OBJECT
public:
    struct Request {
        std::string storePath;
        store::SessionSnapshot snapshot;
        AnalysisOptions options;
        platform::Micros from = 0; // samples before this time are left out (0: none)
        platform::Micros to = 0;   // samples after this time are left out (0: none)
    };

    explicit SessionAnalysis(Request request, QObject* parent = nullptr);
    ~SessionAnalysis() override; // stops the walk and waits for it

    void start();

    // The walk itself, for any thread: false with `message` when the store could not be read.
    static bool analyse(const Request& request, analysis::Result& result, std::string& message,
                        const std::atomic<bool>* stop = nullptr);

signals:
    // On the window's thread.
    void finished(bool ok, const analysis::Result& result, const QString& message);

private:
    Request request_;
    std::atomic<bool> stop_{false};
    std::jthread thread_;
};
