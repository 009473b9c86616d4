// Sound levels as the operator sees them. The loudness threshold is kept in
// 16-bit sample units (the block peak above which a block is loud), which is
// what the settings file holds; OSC, the web view and the meters speak dBFS,
// decibels of the full scale 32768. These helpers are the one conversion
// between the two, and hold the limits that every source of a threshold or a
// gain shares.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace level {

constexpr int kDefaultThreshold = 4000;
constexpr int kMinThreshold = 1;
constexpr int kMaxThreshold = 32767;
constexpr double kMinGainDb = -40.0;
constexpr double kMaxGainDb = 40.0;
constexpr double kFullScale = 32768.0;
// The level reported for a silent block, where dBFS has no finite value.
constexpr double kSilenceDbfs = -120.0;

inline double SampleToDbfs(double sample)
{
    if (sample <= 0) return kSilenceDbfs;
    return std::max(kSilenceDbfs, 20.0 * std::log10(sample / kFullScale));
}

inline double ThresholdToDbfs(int threshold) { return SampleToDbfs(threshold); }

// The nearest threshold in sample units, kept within the limits.
inline int DbfsToThreshold(double dbfs)
{
    if (!std::isfinite(dbfs)) return dbfs > 0 ? kMaxThreshold : kMinThreshold;
    double sample = kFullScale * std::pow(10.0, dbfs / 20.0);
    return static_cast<int>(std::clamp(std::lround(sample), static_cast<long>(kMinThreshold),
                                       static_cast<long>(kMaxThreshold)));
}

inline double ClampGainDb(double gainDb)
{
    if (std::isnan(gainDb)) return 0;
    return std::clamp(gainDb, kMinGainDb, kMaxGainDb);
}

inline bool IsValidThreshold(long long threshold) { return threshold >= kMinThreshold && threshold <= kMaxThreshold; }
inline bool IsValidGainDb(double gainDb) { return gainDb >= kMinGainDb && gainDb <= kMaxGainDb; }

// Samples scaled by a gain in dB, clipped to the 16-bit range as a preamp
// would clip. 0 dB leaves every sample as it is.
inline void ApplyGain(std::int16_t* samples, std::size_t count, double gainDb)
{
    if (gainDb == 0 || samples == nullptr) return;
    double factor = std::pow(10.0, gainDb / 20.0);
    for (std::size_t i = 0; i < count; ++i) {
        double scaled = std::round(samples[i] * factor);
        samples[i] = static_cast<std::int16_t>(std::clamp(scaled, -32768.0, 32767.0));
    }
}

}  // namespace level
