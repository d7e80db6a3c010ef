// SPDX-License-Identifier: GPL-3.0-or-later
#include "analysis/Window.h"

#include <array>
#include <cmath>
#include <numbers>

namespace analysis {

namespace {

constexpr std::array<double, 2> kHann{0.5, 0.5};
constexpr std::array<double, 5> kFlatTop{0.21557895, 0.41663158, 0.277263158, 0.083578947, 0.006947368};
constexpr std::array<double, 4> kBlackmanHarris{0.35875, 0.48829, 0.14128, 0.01168};

} // namespace

std::span<const double> windowTerms(WindowKind kind)
{
    switch (kind) {
    case WindowKind::FlatTop: return kFlatTop;
    case WindowKind::BlackmanHarris: return kBlackmanHarris;
    case WindowKind::Hann: break;
    }
    return kHann;
}

void fillWindow(WindowKind kind, std::span<float> out)
{
    const auto a = windowTerms(kind);
    const double step = 2.0 * std::numbers::pi / static_cast<double>(out.size());
    for (std::size_t n = 0; n < out.size(); ++n) {
        double w = a[0];
        double sign = -1.0;
        for (std::size_t k = 1; k < a.size(); ++k, sign = -sign)
            w += sign * a[k] * std::cos(step * static_cast<double>(k * n));
        out[n] = static_cast<float>(w);
    }
}

double windowGain(WindowKind kind, double offsetBins)
{
    const auto a = windowTerms(kind);
    double d = std::fabs(offsetBins);
    if (d < 1e-9) return 1.0;
    // The sum has removable poles at the integers below the number of terms; step off them.
    for (std::size_t k = 1; k < a.size(); ++k)
        if (std::fabs(d - static_cast<double>(k)) < 1e-7) d += 2e-7;
    double sum = a[0] / d;
    double sign = -1.0;
    for (std::size_t k = 1; k < a.size(); ++k, sign = -sign) {
        const double kk = static_cast<double>(k);
        sum += sign * a[k] * d / (d * d - kk * kk);
    }
    return std::fabs(std::sin(std::numbers::pi * d) / (std::numbers::pi * a[0]) * sum);
}

int mainLobeHalfWidth(WindowKind kind)
{
    // A K-term cosine sum's main lobe reaches its first zero K bins out.
    return static_cast<int>(windowTerms(kind).size());
}

} // namespace analysis
