// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/ReviewLoader.h"

#include <QMetaObject>

#include <algorithm>
#include <utility>

ReviewLoader::ReviewLoader(std::string storePath, QObject* parent)
    : QObject(parent), storePath_(std::move(storePath)), thread_([this](std::stop_token stop) { run(stop); })
{}

ReviewLoader::~ReviewLoader()
{
    thread_.request_stop();
    wake_.notify_all();
    thread_.join();
}

void ReviewLoader::request(Request request)
{
    {
        std::lock_guard lock(mutex_);
        pending_ = std::move(request);
        ++unanswered_;
        ++sinceTaken_;
    }
    wake_.notify_all();
}

bool ReviewLoader::busy() const
{
    std::lock_guard lock(mutex_);
    return unanswered_ > 0;
}

void ReviewLoader::run(std::stop_token stop)
{
    for (;;) {
        Request request;
        int answered = 0;
        {
            std::unique_lock lock(mutex_);
            if (!wake_.wait(lock, stop, [this] { return pending_.has_value(); })) return;
            request = std::move(*pending_);
            pending_.reset();
            answered = std::exchange(sinceTaken_, 0);
        }
        auto result = std::make_shared<Result>();
        load(request, *result);
        QMetaObject::invokeMethod(
            this,
            [this, result, answered] {
                {
                    std::lock_guard lock(mutex_);
                    unanswered_ -= answered;
                }
                emit loaded(result);
            },
            Qt::QueuedConnection);
        // Idle after the first read of a session: fill the reader's cache with its coarsest
        // summaries, giving way to the next request at once.
        if (reader_ && warmed_ != request.session) {
            warmed_ = request.session;
            auto keepGoing = [&] {
                std::lock_guard lock(mutex_);
                return !pending_ && !stop.stop_requested();
            };
            store::StoreError error;
            if (keepGoing() && reader_->begin(error)) {
                reader_->warm(request.session, keepGoing);
                reader_->end();
            }
        }
    }
}

void ReviewLoader::load(const Request& request, Result& result)
{
    result.request = request;
    store::StoreError error;
    auto fail = [&] {
        result.problem = QString::fromStdString(error.describe());
        reader_.reset(); // opened afresh next time
    };
    if (!reader_) {
        reader_ = std::make_unique<store::RangeReader>();
        if (!reader_->open(storePath_, error)) return fail();
    }
    if (!reader_->begin(error)) return fail();
    read(result, error);
    reader_->end();
    if (!result.ok) fail();
}

void ReviewLoader::read(Result& result, store::StoreError& error)
{
    Request& r = result.request;
    if (!reader_->extent(r.session, result.extent, error)) return;
    const store::SessionExtent& e = result.extent;
    if (r.span == Request::Span::all) {
        r.from = e.first, r.to = std::max(e.last, e.first + 1000);
    } else if (r.span == Request::Span::newest) {
        const platform::Micros width = std::max<platform::Micros>(r.to - r.from, 1000);
        r.to = std::max(e.last, e.first + width);
        r.from = r.to - width;
    }
    if (!reader_->envelope(r.session, r.from, r.to, r.columns, result.envelope, error)) return;
    if (r.overviewColumns > 0
        && (r.overviewAgain || overviewSession_ != r.session || overviewSamples_ != e.samples
            || overviewColumns_ != r.overviewColumns)) {
        store::Envelope overview;
        const platform::Micros to = std::max(e.last, e.first + 1000);
        // Opening on the whole session: the overview is the same read.
        if (r.from == e.first && r.to == to && r.columns == r.overviewColumns)
            overview = result.envelope;
        else if (!reader_->envelope(r.session, e.first, to, r.overviewColumns, overview, error))
            return;
        result.overview = std::move(overview);
        overviewSession_ = r.session, overviewSamples_ = e.samples, overviewColumns_ = r.overviewColumns;
    }
    for (platform::Micros at : r.cursors) {
        store::SampleValues s;
        bool found = false;
        if (!reader_->nearest(r.session, at, s, found, error)) return;
        result.cursors.push_back(found ? std::optional(s) : std::nullopt);
    }
    result.ok = true;
}
