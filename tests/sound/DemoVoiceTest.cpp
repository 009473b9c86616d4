#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <vector>

#include "sound/DemoVoice.h"

namespace {

int Peak(const std::vector<std::int16_t>& block)
{
    int peak = 0;
    for (std::int16_t s : block) peak = std::max<int>(peak, s);
    return peak;
}

// The bin (of a 4096-point transform at 160 kHz) where the block is loudest among bins 0 to 39.
int LoudestLowBin(const std::vector<std::int16_t>& block)
{
    int best = 0;
    double bestPower = -1;
    for (int k = 0; k < 40; ++k) {
        std::complex<double> sum = 0;
        for (int n = 0; n < 4096; ++n)
            sum += static_cast<double>(block[static_cast<std::size_t>(n)]) *
                   std::polar(1.0, -2.0 * 3.14159265358979 * k * n / 4096.0);
        if (std::norm(sum) > bestPower) {
            bestPower = std::norm(sum);
            best = k;
        }
    }
    return best;
}

TEST(DemoVoice, PhrasesAreLoudAndPausesAreQuiet)
{
    DemoVoice voice([] { return 0u; }, true);
    int loudBlocks = 0;
    for (std::uint32_t b = 0; b < DemoVoice::kCycleBlocks; ++b) {
        std::vector<std::int16_t> block;
        voice.RenderBlock(b, block);
        ASSERT_EQ(block.size(), 8000u);
        double loudness = DemoVoice::LoudnessOfBlock(b);
        if (loudness >= 5000) {
            EXPECT_GT(Peak(block), 4000) << "block " << b;
            ++loudBlocks;
        } else if (loudness == 0) {
            EXPECT_LE(Peak(block), 4000) << "block " << b;
        }
    }
    EXPECT_GE(loudBlocks, 200);  // all but the soft attack and release
    // The first phrase comes after the title, the second after a silence long enough for a flash.
    EXPECT_EQ(DemoVoice::LoudnessOfBlock(79), 0.0);
    EXPECT_GT(DemoVoice::LoudnessOfBlock(80), 0.0);
    EXPECT_EQ(DemoVoice::LoudnessOfBlock(399), 0.0);
}

TEST(DemoVoice, PitchWandersAcrossSeveralSteeringBands)
{
    DemoVoice voice([] { return 0u; }, true);
    std::vector<int> bins;
    for (std::uint32_t b = 400; b < 520; b += 12) {
        std::vector<std::int16_t> block;
        voice.RenderBlock(b, block);
        bins.push_back(LoudestLowBin(block));
    }
    std::sort(bins.begin(), bins.end());
    EXPECT_GE(bins.back() - bins.front(), 10) << "the crystals should bend in several directions";
}

TEST(DemoVoice, FastModeGivesOneBlockPerDrainAndRealTimeFollowsTheClock)
{
    DemoVoice fast([] { return 0u; }, true);
    std::vector<std::int16_t> samples;
    fast.Drain(samples);
    fast.Drain(samples);
    EXPECT_EQ(samples.size(), 16000u);

    std::uint32_t now = 1000;
    DemoVoice paced([&now] { return now; }, false);
    samples.clear();
    paced.Drain(samples);
    EXPECT_TRUE(samples.empty());
    now += 120;  // two whole blocks and a part
    paced.Drain(samples);
    EXPECT_EQ(samples.size(), 16000u);
    now += 30;
    paced.Drain(samples);
    EXPECT_EQ(samples.size(), 24000u);
}

}  // namespace

namespace {

// The voice as first defined: every harmonic its own sine of the running
// phase, over a quiet room's noise. The synthesis may compute it any way,
// but the samples heard and stored must be these.
class DirectVoice {
public:
    std::vector<std::int16_t> Block(std::uint32_t block)
    {
        static constexpr double kPi = 3.14159265358979323846;
        static constexpr double kHarmonics[] = {1.0, 0.55, 0.35, 0.22, 0.12, 0.08};
        const double pitch = DemoVoice::PitchOfBlock(block);
        const double loudness = DemoVoice::LoudnessOfBlock(block);
        double nextPitch = DemoVoice::PitchOfBlock(block + 1);
        if (nextPitch <= 0.0) nextPitch = pitch;
        std::vector<std::int16_t> samples;
        for (int i = 0; i < DemoVoice::kBlockSamples; ++i) {
            noise_ = noise_ * 1664525u + 1013904223u;
            double value = (static_cast<double>(noise_ >> 16) / 65536.0 - 0.5) * 200.0;
            if (pitch > 0.0) {
                phase_ += (pitch + (nextPitch - pitch) * i / DemoVoice::kBlockSamples) / DemoVoice::kRate;
                phase_ -= std::floor(phase_);
                double voice = 0.0, norm = 0.0;
                for (int h = 0; h < 6; ++h) {
                    voice += kHarmonics[h] * std::sin(2.0 * kPi * (h + 1) * phase_);
                    norm += kHarmonics[h];
                }
                value += loudness * voice / norm * 1.6;
            }
            samples.push_back(static_cast<std::int16_t>(std::lround(std::clamp(value, -32768.0, 32767.0))));
        }
        return samples;
    }

private:
    double phase_ = 0;
    std::uint32_t noise_ = 0x12345678u;
};

}  // namespace

// A whole cycle and the start of the next, sample for sample: a cheaper
// synthesis must not change a single stored or analysed sample.
TEST(DemoVoice, EverySampleMatchesTheDirectSynthesis)
{
    DemoVoice voice([] { return 0u; }, true);
    DirectVoice direct;
    std::vector<std::int16_t> drained;
    for (std::uint32_t block = 0; block < DemoVoice::kCycleBlocks + 100; ++block) {
        drained.clear();
        voice.Drain(drained);
        const std::vector<std::int16_t> expected = direct.Block(block);
        ASSERT_EQ(drained.size(), expected.size()) << "block " << block;
        for (std::size_t i = 0; i < expected.size(); ++i)
            ASSERT_EQ(drained[i], expected[i]) << "block " << block << ", sample " << i;
    }
}
