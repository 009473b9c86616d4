#include "operator/QuantileSketch.h"

#include <algorithm>
#include <cmath>

QuantileSketch::QuantileSketch(double relativeError, double smallest, double largest, bool integers)
    : gamma_((1 + relativeError) / (1 - relativeError)), logGamma_(std::log(gamma_)), smallest_(smallest),
      integers_(integers)
{
    // Bin k (1 ... n) holds (smallest * gamma^(k-1), smallest * gamma^k].
    std::size_t inner = static_cast<std::size_t>(std::ceil(std::log(largest / smallest) / logGamma_));
    bins_.assign(inner + 2, 0);
}

std::size_t QuantileSketch::BinOf(double value) const
{
    if (!(value > smallest_)) return 0;  // NaN lands here too
    double k = std::ceil(std::log(value / smallest_) / logGamma_);
    if (k >= static_cast<double>(bins_.size() - 1)) return bins_.size() - 1;
    return std::max<std::size_t>(1, static_cast<std::size_t>(k));
}

double QuantileSketch::ValueOf(std::size_t bin) const
{
    if (bin == 0) return min_;
    if (bin == bins_.size() - 1) return max_;
    // The point of the bin whose relative distance to both bounds is equal.
    double upper = smallest_ * std::pow(gamma_, static_cast<double>(bin));
    return 2 * upper / (gamma_ + 1);
}

void QuantileSketch::Add(double value)
{
    if (std::isnan(value)) return;
    ++bins_[BinOf(value)];
    min_ = count_ == 0 ? value : std::min(min_, value);
    max_ = count_ == 0 ? value : std::max(max_, value);
    ++count_;
}

void QuantileSketch::Merge(const QuantileSketch& other)
{
    if (other.count_ == 0 || other.bins_.size() != bins_.size()) return;
    for (std::size_t i = 0; i < bins_.size(); ++i) bins_[i] += other.bins_[i];
    min_ = count_ == 0 ? other.min_ : std::min(min_, other.min_);
    max_ = count_ == 0 ? other.max_ : std::max(max_, other.max_);
    count_ += other.count_;
}

void QuantileSketch::Clear()
{
    std::fill(bins_.begin(), bins_.end(), 0);
    count_ = 0;
}

double QuantileSketch::Quantile(double q) const
{
    if (count_ == 0) return 0;
    auto rank = static_cast<std::uint64_t>(std::ceil(std::clamp(q, 0.0, 1.0) * static_cast<double>(count_)));
    rank = std::max<std::uint64_t>(rank, 1);
    std::uint64_t seen = 0;
    std::size_t bin = 0;
    for (; bin < bins_.size(); ++bin) {
        seen += bins_[bin];
        if (seen >= rank) break;
    }
    double value = std::clamp(ValueOf(std::min(bin, bins_.size() - 1)), min_, max_);
    return integers_ ? std::round(value) : value;
}
