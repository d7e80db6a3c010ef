// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// How `quivra record` shows that it is alive: on a terminal one status line on stderr, rewritten
// in place at most four times a second, with the log's lines printed above it; elsewhere (a
// service's journal, a file) one log line a minute.
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <utility>

class StatusLine : public QObject {
    Q_OBJECT
public:
    struct Figures {
        std::int64_t samples = 0; // recorded in this run
        std::uint64_t dropped = 0;
        std::string warning; // readings arrive off the rate asked, say
    };

    // `figures` is asked on the main thread whenever the line is due.
    StatusLine(bool terminal, std::function<Figures()> figures, QObject* parent = nullptr);
    ~StatusLine() override; // gives the log back to stderr

    void start();
    // Clears the line for good (before the summary is printed).
    void finish();

private:
    // "recording: 12m 05s, 72,500 samples, 100.0 a second, 0 dropped", and a warning after it.
    void update();
    void writeLog(std::string_view message);

    const bool terminal_;
    std::function<Figures()> figures_;
    QTimer timer_;
    QElapsedTimer elapsed_;
    std::deque<std::pair<qint64, std::int64_t>> history_; // (ms, samples), for the rate of late
    std::mutex lock_;                                     // the log may come from any thread
    std::string shown_;
    bool finished_ = false;
};
