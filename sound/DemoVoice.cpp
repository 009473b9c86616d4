#include "sound/DemoVoice.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kPi = 3.14159265358979323846;

struct Phrase {
    std::uint32_t first;   // first block of the phrase within the cycle
    std::uint32_t length;  // blocks
    double lowHz;          // pitch range swept by the phrase
    double highHz;
    double loudness;       // peak amplitude of the louder parts
};

// Bins are 39.0625 Hz wide; the crystals listen to bins 0 to 39, so the
// phrases sweep roughly 100 Hz to 1 kHz. Between the phrases the crystals
// reveal, show, dissolve and rest, and then listen for more than 48 steps.
constexpr Phrase kPhrases[] = {
    {80, 100, 110.0, 520.0, 14000.0},
    {400, 120, 240.0, 950.0, 12000.0},
};

// Vowel colour: relative strengths of the first harmonics.
constexpr double kHarmonics[] = {1.0, 0.55, 0.35, 0.22, 0.12, 0.08};

const Phrase* PhraseOf(std::uint32_t block, std::uint32_t& offset)
{
    std::uint32_t inCycle = block % DemoVoice::kCycleBlocks;
    for (const Phrase& p : kPhrases) {
        if (inCycle >= p.first && inCycle < p.first + p.length) {
            offset = inCycle - p.first;
            return &p;
        }
    }
    return nullptr;
}

}  // namespace

DemoVoice::DemoVoice(std::function<std::uint32_t()> clock, bool fast) : clock_(std::move(clock)), fast_(fast) {}

double DemoVoice::PitchOfBlock(std::uint32_t block)
{
    std::uint32_t offset = 0;
    const Phrase* p = PhraseOf(block, offset);
    if (p == nullptr) return 0.0;
    double t = static_cast<double>(offset) / static_cast<double>(p->length);
    // Up and down twice, with a slow vibrato: the crystals bend one way, then the other.
    double sweep = 0.5 - 0.5 * std::cos(2.0 * kPi * 2.0 * t);
    double vibrato = 1.0 + 0.03 * std::sin(2.0 * kPi * static_cast<double>(offset) / 6.0);
    return (p->lowHz + (p->highHz - p->lowHz) * sweep) * vibrato;
}

double DemoVoice::LoudnessOfBlock(std::uint32_t block)
{
    std::uint32_t offset = 0;
    const Phrase* p = PhraseOf(block, offset);
    if (p == nullptr) return 0.0;
    // Softer and louder stretches; never below the loudness the crystals
    // need (4000), so a phrase is one recording.
    double swell = 0.5 + 0.5 * std::sin(2.0 * kPi * static_cast<double>(offset) / 40.0);
    double level = p->loudness * (0.55 + 0.45 * swell);
    // A short attack and release so that phrases do not click.
    double edge = std::min({1.0, (offset + 1) / 3.0, (p->length - offset) / 3.0});
    return std::max(level * edge, 0.0);
}

void DemoVoice::RenderBlock(std::uint32_t block, std::vector<std::int16_t>& samples)
{
    double pitch = PitchOfBlock(block);
    double loudness = LoudnessOfBlock(block);
    double nextPitch = PitchOfBlock(block + 1);
    if (nextPitch <= 0.0) nextPitch = pitch;
    constexpr std::size_t kHarmonicCount = sizeof kHarmonics / sizeof kHarmonics[0];
    double norm = 0.0;
    for (double h : kHarmonics) norm += h;
    const std::size_t first = samples.size();
    samples.resize(first + kBlockSamples);
    std::int16_t* out = samples.data() + first;
    // NOTE: the running state in locals for the loop: a member touched per
    // sample costs the sanitizer builds a type check each time.
    std::uint32_t noise = noise_;
    double phase = phase_;
    for (int i = 0; i < kBlockSamples; ++i) {
        // A quiet room: a little noise, far below the loudness threshold.
        noise = noise * 1664525u + 1013904223u;
        double value = (static_cast<double>(noise >> 16) / 65536.0 - 0.5) * 200.0;
        if (pitch > 0.0) {
            double f = pitch + (nextPitch - pitch) * static_cast<double>(i) / kBlockSamples;
            phase += f / kRate;
            phase -= std::floor(phase);
            // NOTE: the upper harmonics come from the fundamental by the
            // recurrence sin((h+1)x) = 2 cos x sin(hx) - sin((h-1)x): one
            // sine and one cosine a sample instead of six sines, the same
            // samples to well below half a step of the 16-bit output.
            const double x = 2.0 * kPi * phase;
            const double twiceCos = 2.0 * std::cos(x);
            double previous = 0.0;
            double current = std::sin(x);
            double voice = kHarmonics[0] * current;
            for (std::size_t h = 1; h < kHarmonicCount; ++h) {
                const double next = twiceCos * current - previous;
                previous = current;
                current = next;
                voice += kHarmonics[h] * current;
            }
            value += loudness * voice / norm * 1.6;
        }
        value = value < -32768.0 ? -32768.0 : (value > 32767.0 ? 32767.0 : value);
        out[i] = static_cast<std::int16_t>(std::lround(value));
    }
    noise_ = noise;
    phase_ = phase;
}

void DemoVoice::Drain(std::vector<std::int16_t>& samples)
{
    if (fast_) {
        RenderBlock(nextBlock_++, samples);
        return;
    }
    std::uint32_t now = clock_();
    if (!started_) {
        started_ = true;
        startMs_ = now;
    }
    std::uint64_t due = static_cast<std::uint64_t>(static_cast<std::uint32_t>(now - startMs_)) * (kRate / 1000);
    // Whole blocks only: the synthesis works block by block.
    while (samplesGiven_ + kBlockSamples <= due) {
        RenderBlock(nextBlock_++, samples);
        samplesGiven_ += kBlockSamples;
    }
}
