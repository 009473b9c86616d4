// Hann window, complex FFT and the 40 log10 level scale.
#include "sound/SpectrumAnalyser.h"

#include <cmath>
#include <cstring>
#include <memory>

bool SpectrumAnalyser::Init(int n)
{
    size_ = n;
    hasLast_ = false;
    if (n < 4 || (n & (n - 1)) != 0) return false;
    if (!transform_.Init(n, true, true)) return false;
    const std::size_t count = static_cast<std::size_t>(n);
    work_ = std::make_unique<float[]>(2 * count);
    levels_ = std::make_unique<float[]>(2 * count);
    window_ = std::make_unique<float[]>(count);
    lastInput_ = std::make_unique<std::int16_t[]>(count);

    // NOTE: the period constant is the float 6.28318, not 2 pi; the product
    // and the division are taken in extended precision before rounding.
    const long double twoPi = static_cast<long double>(6.28318f);
    for (int i = 0; i < n; ++i)
        window_[i] = static_cast<float>(0.5L - 0.5L * std::cos(twoPi * i / n));
    for (std::size_t i = 0; i < 2 * count; ++i) levels_[i] = 999999.0f;
    return true;
}

bool SpectrumAnalyser::Analyse(const std::int16_t* samples, float floor)
{
    if (!work_ || !levels_ || !window_ || !lastInput_ || transform_.Points() != size_) return false;
    const int n = size_;
    const std::size_t bytes = sizeof(std::int16_t) * static_cast<std::size_t>(n);
    if (hasLast_ && floor == lastFloor_ && std::memcmp(samples, lastInput_.get(), bytes) == 0) return true;

    for (int j = 0; j < n; ++j) {
        work_[2 * j] = window_[j] * static_cast<float>(samples[j]);
        work_[2 * j + 1] = 0.0f;
    }
    transform_.Transform(work_.get());

    const float reference = static_cast<float>(n / 2) * 23170.475f;
    for (int k = 0; k < n / 2; ++k) {
        const float re = work_[2 * k];
        const float im = work_[2 * k + 1];
        const float ratio = std::fabs(std::sqrt(re * re + im * im)) / reference;
        if (ratio == 0.0f) {
            levels_[k] = floor;
        } else {
            const float level = -40.0f * std::log10(ratio);
            levels_[k] = level < floor ? level : floor;
        }
    }

    std::memcpy(lastInput_.get(), samples, bytes);
    lastFloor_ = floor;
    hasLast_ = true;
    ++transformsDone_;
    return true;
}
