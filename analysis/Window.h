// SPDX-License-Identifier: GPL-3.0-or-later
// The spectral windows: cosine sums w[n] = Σ (-1)^k a_k cos(2πkn/L), taken periodic (the DFT's
// own period L), which is what spectral analysis wants.
#pragma once

#include <span>

#include "analysis/Settings.h"

namespace analysis {

// The a_k of a window, a_0 first.
//   Hann            0.5, 0.5
//   flat-top        0.21557895, 0.41663158, 0.277263158, 0.083578947, 0.006947368
//                   (Gade & Herlufsen's 5-term flat-top, B&K Technical Review 3/1987, i.e.
//                   1, 1.933, 1.286, 0.388, 0.0322 scaled; the same as Matlab's and Octave's
//                   flattopwin): amplitude flat within about 0.01 dB across a bin
//   Blackman-Harris 0.35875, 0.48829, 0.14128, 0.01168 (the 4-term, -92 dB one)
std::span<const double> windowTerms(WindowKind kind);

// Fills out with the window over out.size() samples.
void fillWindow(WindowKind kind, std::span<float> out);

// The window's response to a tone offsetBins bins away from a bin, relative to a tone on the
// bin (1 at 0). It is the long-window limit of the cosine sum's transform,
//   sin(πδ)/(π a_0) · [a_0/δ + Σ_{k≥1} (-1)^k a_k δ/(δ² − k²)],
// within 1e-5 of the sampled window's own response at N = 4096 (the difference falls as 1/N²).
double windowGain(WindowKind kind, double offsetBins);

// Half the width of the main lobe, in bins: peaks closer than this to a stronger one are the
// same tone.
int mainLobeHalfWidth(WindowKind kind);

} // namespace analysis
