#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "operator/InputMeter.h"
#include "operator/OperatorPanels.h"

namespace {

std::vector<std::int16_t> BlockWithPeak(int peak)
{
    std::vector<std::int16_t> block(8000, 0);
    block[4000] = static_cast<std::int16_t>(peak);
    block[100] = static_cast<std::int16_t>(-32768);  // negative samples are not the peak
    return block;
}

// The floor computed the slow way: the nearest-rank 95th percentile of the
// newest (at most 200) peaks.
int ReferenceFloor(const std::vector<int>& peaks)
{
    std::vector<int> window(peaks.end() - static_cast<std::ptrdiff_t>(std::min<std::size_t>(peaks.size(), 200)),
                            peaks.end());
    std::sort(window.begin(), window.end());
    std::size_t rank = (window.size() * 95 + 99) / 100;
    return window[rank - 1];
}

TEST(InputMeter, FloorIsThe95thPercentileOfTheLastTenSeconds)
{
    std::mt19937 random(7);
    for (int trial = 0; trial < 20; ++trial) {
        InputMeter meter;
        std::vector<int> peaks;
        std::uniform_int_distribution<int> count(1, 450), level(0, 20000);
        const int blocks = count(random);
        for (int b = 0; b < blocks; ++b) {
            peaks.push_back(level(random));
            auto block = BlockWithPeak(peaks.back());
            meter.AddBlock(block.data(), block.size());
        }
        ASSERT_EQ(ReferenceFloor(peaks), meter.NoiseFloor()) << "trial " << trial;
        const int twice = std::max(2 * ReferenceFloor(peaks), 4000);
        EXPECT_EQ(twice < 16384 ? twice : 0, meter.SuggestedThreshold()) << "never at or above -6 dBFS";
        EXPECT_EQ(peaks.back(), meter.LatestPeak());
        EXPECT_EQ(peaks.back(), meter.PeakAgo(0));
        EXPECT_EQ(std::min<std::size_t>(peaks.size(), 200), meter.BlockCount());
    }
}

TEST(InputMeter, ACoughDoesNotRaiseTheFloorAndSilenceSuggestsTheDefault)
{
    InputMeter meter;
    EXPECT_EQ(0, meter.NoiseFloor());
    EXPECT_EQ(4000, meter.SuggestedThreshold());
    for (int b = 0; b < 200; ++b) {
        auto block = BlockWithPeak(b % 50 == 0 ? 30000 : 3000);  // four loud blocks in ten seconds
        meter.AddBlock(block.data(), block.size());
    }
    EXPECT_EQ(3000, meter.NoiseFloor());
    EXPECT_EQ(6000, meter.SuggestedThreshold());
}

TEST(InputMeter, ARoomTooLoudForAVoiceGetsNoSuggestion)
{
    // Speech without pauses, then loud noise: the floor climbs past the
    // point where twice it would be -6 dBFS or more.
    for (int floor : {8192, 23530, 32767}) {
        InputMeter meter;
        for (int b = 0; b < 200; ++b) {
            auto block = BlockWithPeak(floor);
            meter.AddBlock(block.data(), block.size());
        }
        EXPECT_EQ(floor, meter.NoiseFloor());
        EXPECT_EQ(0, meter.SuggestedThreshold()) << "floor " << floor;
        CalibrationFigures figures = MeasureCalibration(meter, 4000, 0);
        const std::string line = CalibrationLine(figures);
        EXPECT_NE(std::string::npos, line.find(" suggested none threshold 4000 (-18.3 dBFS) gain 0.0 dB: the floor is "
                                               "too high for a voice to rise above it: lower the gain, move the "
                                               "microphone or wait for a quiet moment"))
            << line;
    }
    InputMeter justBelow;
    for (int b = 0; b < 200; ++b) {
        auto block = BlockWithPeak(8191);
        justBelow.AddBlock(block.data(), block.size());
    }
    EXPECT_EQ(16382, justBelow.SuggestedThreshold());
}

TEST(InputMeter, RmsOfAKnownBlock)
{
    std::vector<std::int16_t> block(8000);
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = i % 2 == 0 ? 1000 : -1000;
    InputMeter meter;
    meter.AddBlock(block.data(), block.size());
    EXPECT_DOUBLE_EQ(1000.0, meter.LatestRms());
    EXPECT_EQ(1000, meter.LatestPeak());
}

TEST(CalibrationLine, NamesEveryFigureWithItsLevel)
{
    CalibrationFigures figures;
    figures.peak = 8000;
    figures.noiseFloor = 7000;
    figures.suggested = 14000;
    figures.threshold = 4000;
    figures.gainDb = 6;
    EXPECT_EQ("calibrate: peak 8000 (-12.2 dBFS) floor 7000 (-13.4 dBFS) suggested 14000 (-7.4 dBFS) "
              "threshold 4000 (-18.3 dBFS) gain 6.0 dB",
              CalibrationLine(figures));
}

}  // namespace
