// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Rows read ahead: a long walk over a session's samples steps the store on a thread of its own
// while the rows already read are used (analysed, written out), so that reading and using share
// the machine's cores instead of taking turns. A short walk never starts the thread.
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/store/Records.h"

namespace store {

class ReadAhead {
public:
    using Chunk = std::vector<SampleValues>;
    // Fills `chunk` (emptied first) with the next rows; false when there are no more after them.
    using Fill = std::function<bool(Chunk& chunk)>;
    using Visit = std::function<bool(const SampleValues&)>;

    static constexpr std::size_t chunkRows = 8192;

    // Every row `fill` gives, to `visit` in order, until it returns false. The first chunk is read
    // here; only a walk longer than that reads on. The thread is joined before this returns or
    // throws: `fill` may use what the caller holds.
    static void walk(const Fill& fill, const Visit& visit);

private:
    explicit ReadAhead(const Fill& fill);
    ~ReadAhead();
    bool next(Chunk& chunk);
    void run(std::stop_token stop);

    const Fill& fill_;
    std::mutex lock_;
    std::condition_variable_any changed_;
    std::deque<Chunk> ready_;
    std::vector<Chunk> spare_;
    bool finished_ = false;
    std::jthread thread_;
};

} // namespace store
