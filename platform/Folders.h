// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The user's folders: where the store lives and where exports go.
#include <string>

namespace platform {

// The home folder: $HOME, or the password database's entry for the user when HOME is unset.
std::string homeDirectory();

// $XDG_DATA_HOME/Quivra, by default ~/.local/share/Quivra. A relative XDG_DATA_HOME is invalid
// by the XDG rules and ignored. Nothing is created.
std::string libraryDirectory();
// <library folder>/Quivra.sqlite: the store of the window and of every subcommand.
std::string storePath();

// The user's documents folder, by default ~/Documents. Nothing is created.
std::string documentsDirectory();
// The documents folder, created when missing, for an export to go into; false, with `error` set
// to "cannot use the documents folder PATH: REASON", when it cannot be made.
bool prepareDocumentsDirectory(std::string& folder, std::string& error);

// The local socket a Quivra running on the store listens on, in $XDG_RUNTIME_DIR (or a folder of
// the user's own in the temporary folder): "quivra-HASH.socket", or "quivra-HASH-PURPOSE.socket",
// HASH naming the store's own file, so a symlink to it names the same socket.
std::string storeSocketPath(const std::string& storePath, const std::string& purpose = {});

// Creates the folder and its parents; false, with the reason, when it cannot be made or is not
// a folder. Never throws.
bool ensureDirectory(const std::string& path, std::string* error = nullptr);

} // namespace platform
