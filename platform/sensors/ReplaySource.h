// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Readings played back from a file, one per line, starting again at the end. Reads the
// program's own export files (UTF-16 little-endian, a "Date Code" header, then a date code and
// X, Y, Z per line) and plain text with three numbers in g per line, separated by tabs, commas
// or spaces; in plain text, blank lines and lines starting with '#' are skipped.
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/sensors/AccelerometerSource.h"

namespace sensors {

class ReplaySource : public AccelerometerSource {
public:
    // What one file and one of its lines may take: far more than any recording needs.
    static constexpr long long maxFileBytes = 256LL << 20;
    static constexpr std::size_t maxLineBytes = 4096;

    // Reads the whole file now, so a bad file is reported before recording starts; nullptr and
    // one line naming the file (and the line, for a bad line) in `error`. Only a regular file of
    // at most maxFileBytes is read: a FIFO or a device would never end.
    static std::unique_ptr<ReplaySource> load(const std::string& path, std::string& error);
    // The readings of a file's contents; `name` is used in errors.
    static bool parse(std::string_view bytes, const std::string& name, std::vector<Acceleration>& readings,
                      std::string& error);

    bool read(Acceleration& out, std::string& error) override;
    std::string description() const override;

private:
    ReplaySource(std::string fileName, std::vector<Acceleration> readings);

    std::string fileName_;
    std::vector<Acceleration> readings_;
    std::size_t next_ = 0;
};

} // namespace sensors
