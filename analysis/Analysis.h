// SPDX-License-Identifier: GPL-3.0-or-later
// The analysis library in one include: levels, spectra (FFTW), integration to velocity and
// displacement, ISO 10816-3 zones, and the two analysers that put them together. Pure C++ and
// FFTW; no Qt.
//
//   Settings.h        what to compute, with text forms for the store and the command line
//   Samples.h         time-stamped samples, the gap rule, the true sample rate
//   Levels.h          mean, AC RMS, peak, peak-to-peak, crest factor
//   Window.h Fft.h    windows and the planned FFT
//   Spectrum.h        block power, Welch averaging, units
//   Peaks.h           strongest tones, refined between bins
//   Integration.h     velocity and displacement RMS over a band
//   Iso10816.h        zones, boundaries and colours
//   Result.h          what an analysis gives
//   StreamAnalyser.h  a whole stream, e.g. a stored session
//   LiveAnalyser.h    the newest samples, for a live window
#pragma once

#include "analysis/Fft.h"
#include "analysis/Integration.h"
#include "analysis/Iso10816.h"
#include "analysis/Levels.h"
#include "analysis/LiveAnalyser.h"
#include "analysis/Peaks.h"
#include "analysis/Result.h"
#include "analysis/Samples.h"
#include "analysis/Settings.h"
#include "analysis/Spectrum.h"
#include "analysis/StreamAnalyser.h"
#include "analysis/Window.h"
