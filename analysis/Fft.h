// SPDX-License-Identifier: GPL-3.0-or-later
// A real-to-complex FFT of one size over FFTW (single precision), with its own buffers.
#pragma once

#include <complex>
#include <span>

struct fftwf_plan_s;

namespace analysis {

// Plans are made once per size and shared by every RealFft of that size for the life of the
// process. Making one is serialised by a lock, because FFTW's planner is not thread-safe;
// executing is, so RealFft objects of the same size may run on different threads. Plans are
// made with FFTW_ESTIMATE: about 2 ms a size here, where FFTW_MEASURE took 0.2 to 0.8 s and ran
// no faster up to N = 16,384.
//
// One RealFft is used by one thread at a time.
class RealFft {
public:
    // size: a power of two from 2 to 2^20; anything else throws std::invalid_argument.
    explicit RealFft(int size);
    ~RealFft();
    RealFft(RealFft&& other) noexcept;
    RealFft& operator=(RealFft&& other) noexcept;
    RealFft(const RealFft&) = delete;
    RealFft& operator=(const RealFft&) = delete;

    int size() const { return size_; }

    // size() samples, aligned for SIMD; written by the caller before execute().
    std::span<float> input() { return {input_, static_cast<std::size_t>(size_)}; }

    // size()/2 + 1 bins, DC to Nyquist, unscaled (a constant c reads c·N at bin 0).
    std::span<const std::complex<float>> output() const { return {output_, static_cast<std::size_t>(size_ / 2 + 1)}; }

    // Transforms input() into output(); input() may be overwritten.
    void execute();

    // Makes the plan for a size now, so that the first analysis does not pay for it.
    static void prepare(int size);

private:
    int size_ = 0;
    fftwf_plan_s* plan_ = nullptr; // shared, never destroyed
    float* input_ = nullptr;
    std::complex<float>* output_ = nullptr;
};

} // namespace analysis
