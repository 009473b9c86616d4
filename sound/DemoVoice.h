// The built-in voice of --demo: a synthetic singer fed to the capture in
// place of a microphone, so that the whole installation can be seen on a
// machine without one.
//
// It sings vowels whose pitch glides across the low bins that steer the
// crystals, in louder and softer phrases, with pauses long enough for the
// crystals to finish a cycle and, before every second phrase, for the white
// flash that greets a voice after a long silence. The sequence repeats every
// kCycleBlocks blocks and is the same on every run.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "platform/system/AudioDevices.h"

class DemoVoice : public platform::CaptureStream {
public:
    static constexpr int kRate = 160000;
    static constexpr int kBlockSamples = 8000;
    static constexpr int kCycleBlocks = 640;

    // fast: every Drain hands over one block; otherwise the clock paces it.
    DemoVoice(std::function<std::uint32_t()> clock, bool fast);

    void Drain(std::vector<std::int16_t>& samples) override;

    // Appends the samples of one 50 ms block of the sequence.
    void RenderBlock(std::uint32_t block, std::vector<std::int16_t>& samples);
    // The fundamental frequency sung in a block, 0 in a pause.
    static double PitchOfBlock(std::uint32_t block);
    // The amplitude of a block's voice (0 in a pause).
    static double LoudnessOfBlock(std::uint32_t block);

private:
    std::function<std::uint32_t()> clock_;
    bool fast_;
    bool started_ = false;
    std::uint32_t startMs_ = 0;
    std::uint64_t samplesGiven_ = 0;
    std::uint32_t nextBlock_ = 0;
    double phase_ = 0;  // of the fundamental, in cycles, carried across blocks
    std::uint32_t noise_ = 0x12345678u;
};
