// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One file written for the user (an export), streamed through a fixed buffer into a temporary
// file beside the target, so memory stays bounded whatever its length. commit() syncs the file and
// puts it in place: over an earlier file of that name, or, when told to keep what is there, under
// the first free name of "NAME.ext", "NAME-2.ext", "NAME-3.ext" ... Until then, and after any
// failure, the folder holds what it held and the temporary file is removed. Errors are remembered
// and reported once, by commit().
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// "NAME-2.ext" for ("NAME.ext", 2); the name itself for 1.
std::string numberedFileName(const std::string& fileName, int number);

class ExportFile {
public:
    // The target is folder + "/" + fileName.
    ExportFile(std::string folder, std::string fileName);
    ~ExportFile(); // removes the temporary file unless committed
    ExportFile(const ExportFile&) = delete;
    ExportFile& operator=(const ExportFile&) = delete;

    // commit() never replaces a file: it takes the first free numbered name.
    void keepExisting() { keepExisting_ = true; }

    // Creates the temporary file; temporary files of the same target left behind by a writer that
    // never finished are removed first. False, with error() set, when it cannot be created.
    bool open();

    // Room for `bytes` more at the end of what is written (flushing first when needed); hand the
    // end of what was put there to advance(). Nothing (and no call to advance) after a failure.
    char* room(std::size_t bytes);
    void advance(char* end) { used_ = std::size_t(end - buffer_.data()); }
    void append(std::string_view text);

    // Writes out the rest, syncs, and puts the file in place. False, with error() set, when
    // anything failed since open(); the folder is then as it was.
    bool commit();

    // The target; after commit(), the name it was given.
    const std::string& path() const { return path_; }
    // "cannot write <path>: <reason>", empty while all is well.
    const std::string& error() const { return error_; }
    bool failed() const { return state_ == State::Failed; }

private:
    enum class State { Idle, Open, Committed, Failed };

    bool flush();
    bool placeBesideExisting();
    void fail(const char* reason);
    void fail(int errorNumber);
    void removeTemporary();

    std::string folder_;
    std::string fileName_;
    std::string path_;
    std::string tempPath_;
    bool keepExisting_ = false;
    int fd_ = -1;
    State state_ = State::Idle;
    std::string error_;
    std::vector<char> buffer_;
    std::size_t used_ = 0;
};

} // namespace platform
