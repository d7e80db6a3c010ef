// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/store/ReadAhead.h"

namespace store {

namespace {
// Chunks read and not yet used: enough to ride out a pause on either side, little memory.
constexpr std::size_t depth = 4;
} // namespace

void ReadAhead::walk(const Fill& fill, const Visit& visit)
{
    Chunk chunk;
    chunk.reserve(chunkRows);
    const bool more = fill(chunk);
    for (const SampleValues& v : chunk)
        if (!visit(v)) return;
    if (!more) return;
    ReadAhead ahead(fill);
    while (ahead.next(chunk))
        for (const SampleValues& v : chunk)
            if (!visit(v)) return;
}

ReadAhead::ReadAhead(const Fill& fill) : fill_(fill)
{
    thread_ = std::jthread([this](std::stop_token stop) { run(stop); });
}

ReadAhead::~ReadAhead()
{
    // A visitor that stopped early or threw: the reader stops at its next chunk.
    thread_.request_stop();
    changed_.notify_all();
}

bool ReadAhead::next(Chunk& chunk)
{
    std::unique_lock held(lock_);
    changed_.wait(held, [this] { return !ready_.empty() || finished_; });
    if (ready_.empty()) return false;
    spare_.push_back(std::move(chunk));
    chunk = std::move(ready_.front());
    ready_.pop_front();
    changed_.notify_all();
    return true;
}

void ReadAhead::run(std::stop_token stop)
{
    for (bool more = true; more && !stop.stop_requested();) {
        Chunk chunk;
        {
            std::unique_lock held(lock_);
            if (!changed_.wait(held, stop, [this] { return ready_.size() < depth; })) break;
            if (!spare_.empty()) {
                chunk = std::move(spare_.back());
                spare_.pop_back();
            }
        }
        chunk.clear();
        chunk.reserve(chunkRows);
        more = fill_(chunk);
        std::lock_guard held(lock_);
        if (!chunk.empty()) ready_.push_back(std::move(chunk));
        changed_.notify_all();
    }
    std::lock_guard held(lock_);
    finished_ = true;
    changed_.notify_all();
}

} // namespace store
