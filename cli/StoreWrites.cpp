// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/StoreWrites.h"

#include <sys/stat.h>

#include "platform/store/Schema.h"

namespace cli {

bool StoreWrites::open(const std::string& path, std::string& reason)
{
    struct stat info;
    store::StoreError error;
    if (::stat(path.c_str(), &info) != 0) {
        reason = "there is no store at " + path;
        return false;
    }
    if (!lock_.acquire(path, "Quivra is open on the store " + path, error) || !db_.open(path, error)
        || !store::prepareSchema(db_, error)) {
        reason = error.message;
        return false;
    }
    return true;
}

} // namespace cli
