// SPDX-License-Identifier: GPL-3.0-or-later
#include "analysis/Fft.h"

#include <fftw3.h>

#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>

namespace analysis {

namespace {

constexpr int kLargestSize = 1 << 20;

// FFTW's own thread-safe calls are only the executes, so buffers come from operator new, aligned
// beyond any SIMD width FFTW uses. Planning and executing on arrays of the same alignment is what
// new-array execution needs, so one plan serves every buffer.
constexpr std::align_val_t kAlignment{64};

template <class T>
T* allocate(std::size_t count)
{
    return static_cast<T*>(::operator new(count * sizeof(T), kAlignment));
}

void release(void* p)
{
    ::operator delete(p, kAlignment);
}

void checkSize(int size)
{
    if (size < 2 || size > kLargestSize || (size & (size - 1)) != 0)
        throw std::invalid_argument("FFT size " + std::to_string(size) + " is not a power of two from 2 to "
                                    + std::to_string(kLargestSize));
}

fftwf_plan planFor(int size)
{
    static std::mutex lock;
    static std::map<int, fftwf_plan> plans;
    std::lock_guard guard(lock);
    if (auto found = plans.find(size); found != plans.end()) return found->second;
    const auto n = static_cast<std::size_t>(size);
    std::unique_ptr<float, decltype(&release)> in(allocate<float>(n), release);
    std::unique_ptr<fftwf_complex, decltype(&release)> out(allocate<fftwf_complex>(n / 2 + 1), release);
    fftwf_plan plan = fftwf_plan_dft_r2c_1d(size, in.get(), out.get(), FFTW_ESTIMATE);
    if (!plan) throw std::runtime_error("FFTW made no plan for size " + std::to_string(size));
    plans.emplace(size, plan);
    return plan;
}

} // namespace

RealFft::RealFft(int size) : size_(size)
{
    checkSize(size);
    plan_ = planFor(size);
    input_ = allocate<float>(static_cast<std::size_t>(size));
    try {
        output_ = allocate<std::complex<float>>(static_cast<std::size_t>(size / 2 + 1));
    } catch (...) {
        release(input_);
        throw;
    }
}

RealFft::~RealFft()
{
    release(input_);
    release(output_);
}

RealFft::RealFft(RealFft&& other) noexcept
    : size_(std::exchange(other.size_, 0)), plan_(std::exchange(other.plan_, nullptr)),
      input_(std::exchange(other.input_, nullptr)), output_(std::exchange(other.output_, nullptr))
{}

RealFft& RealFft::operator=(RealFft&& other) noexcept
{
    std::swap(size_, other.size_);
    std::swap(plan_, other.plan_);
    std::swap(input_, other.input_);
    std::swap(output_, other.output_);
    return *this;
}

void RealFft::execute()
{
    // std::complex<float> has fftwf_complex's layout, as FFTW's manual allows.
    fftwf_execute_dft_r2c(plan_, input_, reinterpret_cast<fftwf_complex*>(output_));
}

void RealFft::prepare(int size)
{
    checkSize(size);
    planFor(size);
}

} // namespace analysis
