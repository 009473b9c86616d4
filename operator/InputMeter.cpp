#include "operator/InputMeter.h"

#include <algorithm>
#include <cmath>
#include <span>
#include <vector>

#include "common/Level.h"
#include "sound/Loudness.h"

void InputMeter::AddBlock(const std::int16_t* samples, std::size_t count)
{
    // The same peak the crystals compare with the threshold, so that the
    // meter shows exactly what counts as loud.
    const int peak = BlockPeak(std::span<const std::int16_t>(samples, count));
    double sumOfSquares = 0;
    for (std::size_t i = 0; i < count; ++i) sumOfSquares += static_cast<double>(samples[i]) * samples[i];
    latestPeak_ = peak;
    latestRms_ = count == 0 ? 0 : std::sqrt(sumOfSquares / static_cast<double>(count));
    peaks_[next_] = peak;
    next_ = (next_ + 1) % kHistoryBlocks;
    filled_ = std::min(filled_ + 1, kHistoryBlocks);
}

int InputMeter::PeakAgo(std::size_t n) const
{
    if (n >= filled_) return 0;
    return peaks_[(next_ + kHistoryBlocks - 1 - n) % kHistoryBlocks];
}

int InputMeter::NoiseFloor() const
{
    if (filled_ == 0) return 0;
    std::vector<int> sorted(filled_);
    for (std::size_t i = 0; i < filled_; ++i) sorted[i] = PeakAgo(i);
    std::sort(sorted.begin(), sorted.end());
    // Nearest rank: the smallest peak that at least 95 % of the blocks do not exceed.
    std::size_t rank = static_cast<std::size_t>(std::ceil(0.95 * static_cast<double>(filled_)));
    return sorted[std::max<std::size_t>(rank, 1) - 1];
}

int InputMeter::SuggestedThreshold() const
{
    const int suggestion = std::max(2 * NoiseFloor(), level::kDefaultThreshold);
    return suggestion <= kLoudestSuggestion ? suggestion : 0;
}
