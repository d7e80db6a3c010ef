#include "AnalysisExport.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <unistd.h>


namespace {

std::string number(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.7g", value);
    return text;
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
    std::ostringstream out;
    out << "# Quivra analysis of " << what << ", " << number(result.sampleRate) << " samples a second, "
        << result.samples << " samples;";
    for (std::string_view name : AnalysisOptions::names()) out << ' ' << name << '=' << options.get(name);
    out << '\n';
    const int peaks = options.settings.peakCount;
    out << "axis,mean_g,rms_g,peak_g,peak_to_peak_g,crest,velocity_rms_mm_s,displacement_rms_um,iso_zone";
    for (int i = 1; i <= peaks; ++i) out << ",peak_" << i << "_hz,peak_" << i << "_g";
    out << '\n';
    for (int row = 0; row < 4; ++row) {
        const analysis::Levels& l = row < 3 ? result.axes[std::size_t(row)].levels : result.magnitude;
        out << (row < 3 ? std::string(analysis::kAxisNames[std::size_t(row)]) : std::string("magnitude")) << ','
            << number(l.mean) << ',' << number(l.rms) << ',' << number(l.peak) << ',' << number(l.peakToPeak) << ','
            << number(l.crest);
        if (row < 3 && result.hasVelocity) {
            const analysis::AxisResult& a = result.axes[std::size_t(row)];
            out << ',' << number(a.velocityRms) << ',' << number(a.displacementRms) << ',' << analysis::zoneName(a.zone);
        } else {
            out << ",,,";
        }
        for (int i = 0; i < peaks; ++i) {
            const auto* found = row < 3 && std::size_t(i) < result.axes[std::size_t(row)].peaks.size()
                                    ? &result.axes[std::size_t(row)].peaks[std::size_t(i)]
                                    : nullptr;
            out << ',' << (found ? number(found->frequency) : "") << ',' << (found ? number(found->amplitude) : "");
        }
        out << '\n';
    }
    const std::string unit(analysis::toText(options.settings.unit));
    out << "\nfrequency_hz,x_" << unit << ",y_" << unit << ",z_" << unit << '\n';
    for (std::size_t k = 0; k < result.frequencies.size(); ++k) {
        out << number(result.frequencies[k]);
        for (const auto& axis : result.axes) out << ',' << (k < axis.spectrum.size() ? number(axis.spectrum[k]) : "");
        out << '\n';
    }

    const std::string temporary = path + ".part";
    {
        std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
        file << out.str();
        file.flush();
        if (!file) {
            error = "cannot write " + path + ": " + std::strerror(errno ? errno : EIO);
            ::unlink(temporary.c_str());
            return false;
        }
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}
