// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The trend of a machine and point, or the summaries of a few sessions, worked out through a
// read-only connection on a thread of its own while the window and recording go on. What it
// made is handed back to be kept by the window's own save.
#include <QObject>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "recording/Trend.h"

class TrendWork : public QObject {
    Q_OBJECT
public:
    struct Request {
        std::string storePath;
        AnalysisOptions options;
        std::string machine, point;
        // When not empty: the summaries of these sessions alone, not a trend.
        std::vector<store::ObjectId> sessions;
    };
    struct Outcome {
        bool ok = false;
        std::vector<TrendPoint> points;          // the trend, or the sessions asked for
        std::vector<store::SessionSummary> made; // summaries made now, to keep
        store::ObjectId baseline = 0;            // of the machine and point, when chosen
        std::string message;                     // why it failed
    };

    explicit TrendWork(Request request, QObject* parent = nullptr);
    ~TrendWork() override; // stops between sessions and waits

    void start();
    // The work itself, for any thread.
    static Outcome run(const Request& request, const std::atomic<bool>* stop = nullptr);

signals:
    // On the thread this object lives on.
    void finished(const TrendWork::Outcome& outcome);

private:
    Request request_;
    std::atomic<bool> stop_{false};
    std::jthread thread_;
};
