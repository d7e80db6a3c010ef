// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The store opened to keep what the command line works out (summaries, the baseline) beside what
// the window writes.
#include <string>

#include "platform/store/Database.h"
#include "platform/store/StoreLock.h"

namespace cli {

// The store opened for writing under its lock, as every program that writes it; a window or a
// recording that holds the store keeps it from being opened (false, with the reason).
class StoreWrites {
public:
    bool open(const std::string& path, std::string& reason);
    store::Database& database() { return db_; }

private:
    store::StoreLock lock_;
    store::Database db_;
};

} // namespace cli
