// The recording's sound keeps in step with the pictures: 50 ms per step
// whatever the pacing, with the sound whole (no gaps once it flows).
#include <gtest/gtest.h>

#include <vector>

#include "sound/Soundtrack.h"

namespace {

// Blocks arrive every 50 ms of the capture clock; steps come every
// stepMicros of the system's. Ten minutes of both.
void RunLive(long stepMicros)
{
    Soundtrack track(true);
    const std::vector<std::int16_t> block(8000, 1000);
    std::vector<std::int16_t> out;
    long nextBlock = 0, nextStep = 60000;
    std::size_t steps = 0, silentAfterStart = 0, mostBacklog = 0;
    for (long now = 0; now < 600L * 1000000; now = std::min(nextBlock, nextStep)) {
        if (now == nextBlock) {
            track.AddHeard(block.data(), block.size());
            nextBlock += 50000;
        }
        if (now == nextStep) {
            track.TakeStep(out);
            ASSERT_EQ(out.size(), Soundtrack::kStepSamples);
            ++steps;
            if (steps > 100)
                for (std::int16_t s : out) silentAfterStart += s == 0;
            mostBacklog = std::max(mostBacklog, track.HeardBacklog());
            nextStep += stepMicros;
        }
    }
    // No gap once the sound flows, and never more than a few blocks behind
    // the picture: what a step records is at most 150 ms old.
    EXPECT_EQ(silentAfterStart, 0u) << "step spacing " << stepMicros << " us";
    EXPECT_LE(mostBacklog, 3u * 8000) << "step spacing " << stepMicros << " us";
}

TEST(Soundtrack, LiveSoundStaysInStepWithSlowAndFastSteps)
{
    RunLive(51000);   // the loop's usual pace: a step when more than 50 ms have passed
    RunLive(52000);
    RunLive(49000);   // a capture clock that runs slow
}

TEST(Soundtrack, OfflineStepsTakeTheBlocksAsTheyAreWithTheEchoMixedIn)
{
    Soundtrack track(false);
    std::vector<std::int16_t> block(8000), echo(12000, 32500), out;
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<std::int16_t>(i % 700);
    track.AddHeard(block.data(), block.size());
    track.AddEcho(echo.data(), echo.size());
    track.TakeStep(out);
    ASSERT_EQ(out.size(), 8000u);
    EXPECT_EQ(out[0], 32500);
    EXPECT_EQ(out[699], 32767);  // clipped, not wrapped
    // The echo goes on into the next step; the input has run dry: silence.
    track.TakeStep(out);
    EXPECT_EQ(out[3999], 32500);
    EXPECT_EQ(out[4000], 0);
}

}  // namespace
