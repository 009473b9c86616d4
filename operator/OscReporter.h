// Turns what happens in the installation into the OSC messages a lighting
// desk or a sound system follows:
//
//   /solvane/level f f       block peak and RMS in dBFS, every microphone block
//   /solvane/crystal i s     crystal index and the name of its new phase, at each change
//   /solvane/flash           the white flash starts
//   /solvane/voice i f       a voice is stored: its blocks and seconds
//   /solvane/picture         a picture from the peer starts flying
//   /solvane/heartbeat i f   steps and steps per second, once a second of the step clock
//
// Events are found by comparing each step with the one before, so the scene
// needs no hooks. Phase names are Health::kPhaseNames.
//
// Threads: the step loop only; the sink takes the messages off its hands.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "operator/OscSender.h"

// What the reporter looks at after a step.
struct OscStepView {
    std::uint64_t steps = 0;
    std::uint32_t clockMs = 0;               // the step clock (virtual in --fast runs)
    const std::int32_t* phases = nullptr;    // each crystal's phase, in cluster order
    std::size_t crystals = 0;
    int flashAlphaBefore = 0;                // the flash's alpha before and after the step
    int flashAlphaAfter = 0;
    std::uint64_t flightsStarted = 0;        // pictures launched since the start
    std::uint32_t recordedBlocks = 0;        // blocks in the recording list after the step
};

class OscReporter {
public:
    static constexpr std::size_t kMaxCrystals = 16;
    static constexpr double kBlockSeconds = 8000.0 / 160000.0;

    explicit OscReporter(OscSink& sink) : sink_(sink) {}

    // One microphone block of 16-bit samples.
    void OnBlock(const std::int16_t* samples, std::size_t count);
    void AfterStep(const OscStepView& view);

private:
    OscSink& sink_;
    bool seenStep_ = false;
    std::array<std::int32_t, kMaxCrystals> phases_{};
    std::uint64_t flightsStarted_ = 0;
    std::uint32_t beatClockMs_ = 0;
    std::uint64_t beatSteps_ = 0;
};
