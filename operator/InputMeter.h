// The level of the room as the crystals hear it: every captured block is
// measured after the gain, so the meter, the health figures and the
// loudness rule all see the same samples.
//
// A block's peak is its largest positive sample, the figure the loudness
// rule compares with the threshold. The noise floor is the 95th percentile of
// the block peaks of the last 10 s (200 blocks of 50 ms): a room that is
// quiet most of the time but for a cough or a door still gets a floor near
// its steady noise. The suggested threshold is twice the floor, never below
// the default; a room whose floor leaves no room for a voice above it (a
// suggestion at or above -6 dBFS) gets none, since a threshold that high
// makes the installation deaf.
//
// Threads: the step loop only.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

class InputMeter {
public:
    static constexpr std::size_t kHistoryBlocks = 200;

    void AddBlock(const std::int16_t* samples, std::size_t count);

    std::size_t BlockCount() const { return filled_; }
    // The latest block; 0 before the first one.
    int LatestPeak() const { return latestPeak_; }
    double LatestRms() const { return latestRms_; }
    // The peak of the n-th newest block (0: the latest); 0 past the history.
    int PeakAgo(std::size_t n) const;

    // The highest threshold ever suggested: just below -6 dBFS.
    static constexpr int kLoudestSuggestion = 16383;

    int NoiseFloor() const;
    // 0 when the floor is too high for a voice to rise above it.
    int SuggestedThreshold() const;

private:
    std::array<int, kHistoryBlocks> peaks_{};
    std::size_t next_ = 0;    // where the next block's peak goes
    std::size_t filled_ = 0;  // up to kHistoryBlocks
    int latestPeak_ = 0;
    double latestRms_ = 0;
};
