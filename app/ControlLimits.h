// The ranges a running installation accepts for its two input settings, and
// the conversion between the threshold's two spellings: 16-bit sample units
// (the settings file, the health snapshot) and dBFS (requests from the
// operator's remote tools). Requests outside these ranges are refused, not
// clamped, so an operator never gets a value they did not ask for.
#pragma once

#include <algorithm>
#include <cmath>

namespace control_limits {

// A block peak of 1 unit is the quietest a 16-bit threshold can be.
constexpr double kThresholdMinDbfs = -90.0;
constexpr double kThresholdMaxDbfs = 0.0;
constexpr double kGainMinDb = -24.0;
constexpr double kGainMaxDb = 24.0;

inline int ThresholdFromDbfs(double dbfs)
{
    double units = std::round(32768.0 * std::pow(10.0, dbfs / 20.0));
    return static_cast<int>(std::clamp(units, 1.0, 32767.0));
}

inline double DbfsFromThreshold(int threshold)
{
    return 20.0 * std::log10(std::max(threshold, 1) / 32768.0);
}

}  // namespace control_limits
