// Percentiles of a stream in fixed memory: values fall into bins whose
// bounds grow by a constant factor, so any quantile is known to within half
// a bin's relative width (`relativeError`), however many values were added.
// The smallest and largest values are kept exactly and bound every answer.
// Used where a figure lives as long as the process (run statistics, health),
// so that nothing grows per step.
#pragma once

#include <cstdint>
#include <vector>

class QuantileSketch {
public:
    // Values at or below `smallest` count as one bin; above `largest`, as another.
    QuantileSketch(double relativeError, double smallest, double largest, bool integers = false);

    void Add(double value);
    // Adds every value of `other`, which must have been made with the same limits.
    void Merge(const QuantileSketch& other);
    void Clear();

    std::uint64_t Count() const { return count_; }
    double Max() const { return count_ == 0 ? 0 : max_; }
    // Nearest rank: the smallest value with at least `q` of the values at or
    // below it (q in 0 ... 1); 0 when empty.
    double Quantile(double q) const;

private:
    std::size_t BinOf(double value) const;
    double ValueOf(std::size_t bin) const;

    double gamma_;
    double logGamma_;
    double smallest_;
    bool integers_;
    std::vector<std::uint64_t> bins_;  // [0]: at or below `smallest`; last: above `largest`
    std::uint64_t count_ = 0;
    double min_ = 0;
    double max_ = 0;
};
