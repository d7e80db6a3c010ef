// SPDX-License-Identifier: GPL-3.0-or-later
#include "recording/AnalysisExport.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <locale>
#include <sstream>
#include <unistd.h>

#include "platform/NumberText.h"
#include "platform/TemporaryFile.h"

using platform::numberText;

namespace {

// The whole text into the file: false with errno set when a write fails.
bool writeAll(int fd, const std::string& text)
{
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n >= 0)
            done += std::size_t(n);
        else if (errno != EINTR)
            return false;
    }
    return true;
}

} // namespace

std::string analysisFileName(const std::string& exportFileName)
{
    std::string stem = exportFileName;
    if (stem.size() > 4 && stem.compare(stem.size() - 4, 4, ".asc") == 0) stem.resize(stem.size() - 4);
    return stem + "-analysis.csv";
}

bool writeAnalysisCsv(const std::string& path, const std::string& what, const AnalysisOptions& options,
                      const analysis::Result& result, std::string& error)
{
    // The settings the result was made with, which may lag behind a change just made in the
    // panel; only the span and the frequency scale are not part of the analysis.
    AnalysisOptions shown = options;
    shown.settings = result.settings;

    std::ostringstream out;
    out.imbue(std::locale::classic()); // counts without a thousands separator, whatever the locale
    out << "# Quivra analysis of " << what << ", " << numberText(result.sampleRate) << " samples a second, "
        << result.samples << " samples;";
    for (std::string_view name : AnalysisOptions::names()) out << ' ' << name << '=' << shown.get(name);
    out << '\n';
    const int peaks = result.settings.peakCount;
    out << "axis,mean_g,rms_g,peak_g,peak_to_peak_g,crest,velocity_rms_mm_s,displacement_rms_um,iso_zone";
    for (int i = 1; i <= peaks; ++i) out << ",peak_" << i << "_hz,peak_" << i << "_g";
    out << '\n';
    for (int row = 0; row < 4; ++row) {
        const analysis::Levels& l = row < 3 ? result.axes[std::size_t(row)].levels : result.magnitude;
        out << (row < 3 ? std::string(analysis::kAxisNames[std::size_t(row)]) : std::string("magnitude")) << ','
            << numberText(l.mean) << ',' << numberText(l.rms) << ',' << numberText(l.peak) << ','
            << numberText(l.peakToPeak) << ',' << numberText(l.crest);
        if (row < 3 && result.hasVelocity) {
            const analysis::AxisResult& a = result.axes[std::size_t(row)];
            out << ',' << numberText(a.velocityRms) << ',' << numberText(a.displacementRms) << ','
                << analysis::zoneName(a.zone);
        } else {
            out << ",,,";
        }
        for (int i = 0; i < peaks; ++i) {
            const auto* found = row < 3 && std::size_t(i) < result.axes[std::size_t(row)].peaks.size()
                                    ? &result.axes[std::size_t(row)].peaks[std::size_t(i)]
                                    : nullptr;
            out << ',' << (found ? numberText(found->frequency) : "") << ','
                << (found ? numberText(found->amplitude) : "");
        }
        out << '\n';
    }
    const std::string unit(analysis::toText(result.settings.unit));
    out << "\nfrequency_hz,x_" << unit << ",y_" << unit << ",z_" << unit << '\n';
    for (std::size_t k = 0; k < result.frequencies.size(); ++k) {
        out << numberText(result.frequencies[k]);
        for (const auto& axis : result.axes)
            out << ',' << (k < axis.spectrum.size() ? numberText(axis.spectrum[k]) : "");
        out << '\n';
    }

    return replaceFileWith(path, out.str(), error);
}

bool replaceFileWith(const std::string& path, const std::string& text, std::string& error)
{
    // Written beside the target, synced, then renamed over it: a failure or a power cut leaves
    // either the earlier file or the whole new one. Temporary files of a writer that was killed go.
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    const std::string name = path.substr(slash == std::string::npos ? 0 : slash + 1);
    platform::removeAbandonedTemporaries(folder, name);
    std::string temporary;
    int reason = 0;
    const int fd = platform::createTemporaryFile(folder, name, temporary, reason);
    const auto fail = [&](int errorNumber) {
        error = "cannot write " + path + ": " + std::strerror(errorNumber ? errorNumber : EIO);
        if (!temporary.empty()) ::unlink(temporary.c_str());
        if (fd >= 0) ::close(fd);
        return false;
    };
    if (fd < 0) return fail(reason);
    if (!writeAll(fd, text) || ::fsync(fd) != 0) return fail(errno);
    // Renamed while still open, and so still locked (see removeAbandonedTemporaries).
    if (std::rename(temporary.c_str(), path.c_str()) != 0) return fail(errno);
    ::close(fd);
    // Makes the new name itself durable; the file is already in place, so a failure here changes
    // nothing the caller could act on.
    if (const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}
