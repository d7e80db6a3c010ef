// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A new file beside a target, written in full and then renamed over it, so that a failed or
// interrupted write never leaves half a file where a good one was.
#include <string>

namespace platform {

// Creates a new file ".<name>.XXXXXX" in the folder for writing, and returns its descriptor with
// its path in tempPath; -1 with the errno in `error` when it cannot. Unlike mkstemp, the mode
// follows the umask, so the finished file gets the same permissions as any other the user saves.
// The file is locked (flock) for as long as the descriptor is open: that is how
// removeAbandonedTemporaries tells a write under way from one that was killed.
int createTemporaryFile(const std::string& folder, const std::string& name, std::string& tempPath, int& error);

// Removes the ".<name>.XXXXXX" files in the folder that nobody holds open: temporary files of
// that target whose writer was killed before it could remove them.
void removeAbandonedTemporaries(const std::string& folder, const std::string& name);

} // namespace platform
