// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Reads what review shows on a thread of its own, through a read-only connection, so that the
// window never waits on the store: each request replaces any that has not started, and the result
// comes back on the window's thread.
#include <QObject>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/store/RangeReader.h"

class ReviewLoader : public QObject {
    Q_OBJECT
public:
    struct Request {
        store::ObjectId session = 0;
        enum class Span { given, all, newest } span = Span::given; // newest: the given width, up to the end
        platform::Micros from = 0, to = 0;
        int columns = 1;
        int overviewColumns = 0;               // 0: no overview
        bool overviewAgain = false;            // even if the session has not grown
        std::vector<platform::Micros> cursors; // the nearest reading to each
    };
    struct Result {
        Request request; // with the span it was read for
        bool ok = false;
        QString problem;
        store::SessionExtent extent;
        store::Envelope envelope;
        std::optional<store::Envelope> overview; // when it changed
        std::vector<std::optional<store::SampleValues>> cursors;
    };

    explicit ReviewLoader(std::string storePath, QObject* parent = nullptr);
    ~ReviewLoader() override; // waits for the read under way

    void request(Request request);
    // Requests not yet answered.
    bool busy() const;

signals:
    void loaded(std::shared_ptr<const ReviewLoader::Result> result);

private:
    void run(std::stop_token stop);
    void load(const Request& request, Result& result);
    void read(Result& result, store::StoreError& error);

    const std::string storePath_;
    std::unique_ptr<store::RangeReader> reader_; // the worker's alone
    store::ObjectId overviewSession_ = 0;        // the worker's alone
    std::int64_t overviewSamples_ = -1;
    store::ObjectId warmed_ = 0; // the worker's alone: the session it last warmed for
    int overviewColumns_ = 0;
    mutable std::mutex mutex_;
    std::condition_variable_any wake_;
    std::optional<Request> pending_;
    int unanswered_ = 0; // requests whose answer has not come back
    int sinceTaken_ = 0; // requests folded into the pending one
    std::jthread thread_;
};
