#pragma once
// The user's folders: where the store lives and where exports go. Each is created when missing.
#include <string>

namespace platform {

// $XDG_DATA_HOME/Quivra, by default ~/.local/share/Quivra.
std::string libraryDirectory();

// The user's documents folder, by default ~/Documents.
std::string documentsDirectory();

// Creates the folder and its parents; false when it cannot be made.
bool ensureDirectory(const std::string& path, std::string* error = nullptr);

} // namespace platform
