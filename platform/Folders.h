#pragma once
// The user's folders: where the store lives and where exports go.
#include <string>

namespace platform {

// The home folder: $HOME, or the password database's entry for the user when HOME is unset.
std::string homeDirectory();

// $XDG_DATA_HOME/Quivra, by default ~/.local/share/Quivra. A relative XDG_DATA_HOME is invalid
// by the XDG rules and ignored. Nothing is created.
std::string libraryDirectory();
// Creates the library folder when missing; false with the reason when it cannot be made.
bool prepareLibraryDirectory(std::string& error);

// The user's documents folder, by default ~/Documents. Nothing is created.
std::string documentsDirectory();

// Creates the folder and its parents; false, with the reason, when it cannot be made or is not
// a folder. Never throws.
bool ensureDirectory(const std::string& path, std::string* error = nullptr);

} // namespace platform
