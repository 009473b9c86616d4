// The sound of a recorded run, handed out one step at a time: exactly 50 ms
// (8000 samples at 160 000 Hz) per step, so that the sound of step k starts
// at k x 50 ms in the file however the steps are paced. It is what the
// installation hears (the blocks after the gain) with the echo of each
// stored voice mixed in, as the sound output queues it: one echo after the
// other.
//
// Offline every step hears one block, and a step's sound is that block. Live
// the sound arrives on the capture device's clock and the steps follow the
// system's (never quite 20 a second), so each step takes a little more or
// less than a block's worth and stretches it to 50 ms, keeping about two
// blocks in hand (blocks come whole, 50 ms apart); a gap in the input is
// silence.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class Soundtrack {
public:
    static constexpr std::size_t kStepSamples = 8000;

    // conform: live pacing (see above); false gives each step exactly the
    // next 8000 samples heard.
    explicit Soundtrack(bool conform) : conform_(conform) {}

    void AddHeard(const std::int16_t* samples, std::size_t count);
    // A stored voice as it starts to play, at 160 000 Hz.
    void AddEcho(const std::int16_t* samples, std::size_t count);
    // The step's 50 ms.
    void TakeStep(std::vector<std::int16_t>& out);

    std::size_t HeardBacklog() const { return heard_.size() - heardStart_; }

private:
    static void Compact(std::vector<std::int16_t>& samples, std::size_t& start);

    bool conform_;
    std::vector<std::int16_t> heard_;
    std::size_t heardStart_ = 0;
    std::vector<std::int16_t> echo_;
    std::size_t echoStart_ = 0;
};
