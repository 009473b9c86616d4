// The spectrum analyser's levels against a direct DFT, its edge values, and
// the reuse of one analysis by every crystal of a step.
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "sound/SpectrumAnalyser.h"

namespace {

constexpr int kSize = 4096;
constexpr double kPi = 3.14159265358979323846;

std::vector<std::int16_t> Sine(double bin, double amplitude)
{
    std::vector<std::int16_t> block(16000, 0);
    for (int j = 0; j < 8000; ++j)
        block[j] = static_cast<std::int16_t>(std::lround(amplitude * std::sin(2.0 * kPi * bin * j / kSize)));
    return block;
}

std::vector<std::int16_t> Noise(unsigned seed)
{
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> sample(-20000, 20000);
    std::vector<std::int16_t> block(16000, 0);
    for (int j = 0; j < 8000; ++j) block[j] = static_cast<std::int16_t>(sample(random));
    return block;
}

TEST(SpectrumAnalyser, InitBuildsTheWindowAndMarksTheTableUnused)
{
    SpectrumAnalyser analyser;
    ASSERT_TRUE(analyser.Init(kSize));
    EXPECT_EQ(analyser.Size(), kSize);
    EXPECT_EQ(analyser.Window()[0], 0.0f);
    EXPECT_NEAR(analyser.Window()[kSize / 2], 1.0f, 1e-6f);
    EXPECT_NEAR(analyser.Window()[kSize / 4], 0.5f, 1e-5f);
    for (int k = 0; k < 2 * kSize; ++k) ASSERT_EQ(analyser.Levels()[k], 999999.0f);
}

TEST(SpectrumAnalyser, RejectsSizesThatAreNotPowersOfTwo)
{
    SpectrumAnalyser analyser;
    EXPECT_FALSE(analyser.Init(1000));
    EXPECT_FALSE(analyser.Init(2));
    std::vector<std::int16_t> block(16000, 0);
    EXPECT_FALSE(analyser.Analyse(block.data(), 480.0f));
}

TEST(SpectrumAnalyser, SilenceGivesTheFloorEverywhere)
{
    SpectrumAnalyser analyser;
    ASSERT_TRUE(analyser.Init(kSize));
    std::vector<std::int16_t> silence(16000, 0);
    ASSERT_TRUE(analyser.Analyse(silence.data(), 480.0f));
    for (int k = 0; k < kSize / 2; ++k) ASSERT_EQ(analyser.Levels()[k], 480.0f) << "bin " << k;
    // The upper half of the table is not written.
    EXPECT_EQ(analyser.Levels()[kSize / 2], 999999.0f);
}

TEST(SpectrumAnalyser, FullScaleSineAtABinCentreIsNearTheTop)
{
    SpectrumAnalyser analyser;
    ASSERT_TRUE(analyser.Init(kSize));
    const int bin = 20;
    const auto loud = Sine(bin, 32767.0);
    ASSERT_TRUE(analyser.Analyse(loud.data(), 480.0f));
    const float* levels = analyser.Levels();
    // The window halves a sine's amplitude: 40 log10(sqrt 2) = 6.02 below the reference.
    EXPECT_NEAR(levels[bin], 6.02f, 0.05f);
    for (int k = 0; k < 40; ++k) {
        if (k != bin) {
            EXPECT_GT(levels[k], levels[bin]) << "bin " << k;
        }
    }

    // Half the amplitude is 40 log10(2) = 12.04 further down.
    const float full = levels[bin];
    const auto quiet = Sine(bin, 16383.5);
    ASSERT_TRUE(analyser.Analyse(quiet.data(), 480.0f));
    EXPECT_NEAR(analyser.Levels()[bin] - full, 12.04f, 0.05f);
}

TEST(SpectrumAnalyser, LevelsMatchADirectTransformOfTheWindowedBlock)
{
    SpectrumAnalyser analyser;
    ASSERT_TRUE(analyser.Init(kSize));
    const auto block = Noise(7);
    ASSERT_TRUE(analyser.Analyse(block.data(), 480.0f));
    const double reference = (kSize / 2) * 23170.475;
    for (int k = 0; k < kSize / 2; k += 13) {
        double re = 0.0, im = 0.0;
        for (int j = 0; j < kSize; ++j) {
            const double x = static_cast<double>(analyser.Window()[j]) * block[j];
            re += x * std::cos(2.0 * kPi * j * k / kSize);
            im -= x * std::sin(2.0 * kPi * j * k / kSize);
        }
        const double expected = std::min(-40.0 * std::log10(std::hypot(re, im) / reference), 480.0);
        EXPECT_NEAR(analyser.Levels()[k], expected, 0.01) << "bin " << k;
    }
}

TEST(SpectrumAnalyser, FloorClampsQuietBins)
{
    SpectrumAnalyser analyser;
    ASSERT_TRUE(analyser.Init(kSize));
    const auto block = Sine(5, 100.0);
    ASSERT_TRUE(analyser.Analyse(block.data(), 60.0f));
    for (int k = 0; k < kSize / 2; ++k) ASSERT_LE(analyser.Levels()[k], 60.0f);
    EXPECT_EQ(analyser.Levels()[1000], 60.0f);
}

TEST(SpectrumAnalyser, RepeatedBlockIsAnalysedOnceWithTheSameOutcome)
{
    SpectrumAnalyser once;
    SpectrumAnalyser shared;
    ASSERT_TRUE(once.Init(kSize));
    ASSERT_TRUE(shared.Init(kSize));
    auto block = Noise(3);
    const auto other = Noise(4);

    ASSERT_TRUE(once.Analyse(block.data(), 480.0f));
    const std::vector<float> first(once.Levels(), once.Levels() + kSize / 2);
    // Sixteen crystals read the same block in one step.
    for (int crystal = 0; crystal < 16; ++crystal) {
        ASSERT_TRUE(shared.Analyse(block.data(), 480.0f));
        for (int k = 0; k < kSize / 2; ++k) ASSERT_EQ(shared.Levels()[k], first[k]);
    }
    EXPECT_EQ(shared.TransformsDone(), 1u);

    // A different block, then the first again: each is computed afresh.
    ASSERT_TRUE(shared.Analyse(other.data(), 480.0f));
    EXPECT_NE(shared.Levels()[10], first[10]);
    ASSERT_TRUE(shared.Analyse(block.data(), 480.0f));
    for (int k = 0; k < kSize / 2; ++k) ASSERT_EQ(shared.Levels()[k], first[k]);
    EXPECT_EQ(shared.TransformsDone(), 3u);

    // The same buffer overwritten in place by the next block is a new block.
    block[100] = static_cast<std::int16_t>(block[100] + 5000);
    ASSERT_TRUE(shared.Analyse(block.data(), 480.0f));
    EXPECT_EQ(shared.TransformsDone(), 4u);
    // So is the same block with another floor.
    ASSERT_TRUE(shared.Analyse(block.data(), 100.0f));
    EXPECT_EQ(shared.TransformsDone(), 5u);
}

}  // namespace
