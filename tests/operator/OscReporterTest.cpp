// The messages a step sends: one per change, none for what stayed the same.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "operator/OscReporter.h"

namespace {

struct Sent {
    std::string path;
    std::string types;
    std::int32_t i;
    float f0;
    float f1;
    std::string s;
};

class RecordingSink : public OscSink {
public:
    void Post(const platform::OscOutgoing* messages, std::size_t count) override
    {
        for (std::size_t k = 0; k < count; ++k)
            sent.push_back({messages[k].path, messages[k].types, messages[k].i, messages[k].f[0], messages[k].f[1],
                            messages[k].s});
    }
    std::vector<Sent> Take()
    {
        std::vector<Sent> taken;
        taken.swap(sent);
        return taken;
    }
    std::vector<Sent> sent;
};

struct Stepper {
    RecordingSink sink;
    OscReporter reporter{sink};
    std::array<std::int32_t, 16> phases{};
    OscStepView view;

    std::vector<Sent> Step(std::uint32_t milliseconds = 51)
    {
        view.steps += 1;
        view.clockMs += milliseconds;
        view.phases = phases.data();
        view.crystals = phases.size();
        reporter.AfterStep(view);
        view.flashAlphaBefore = view.flashAlphaAfter;
        return sink.Take();
    }
};

TEST(OscReporter, PhaseChangesVoicesFlashesAndPicturesEachSendOneMessage)
{
    Stepper s;
    EXPECT_TRUE(s.Step().empty());  // the first step is the reference
    EXPECT_TRUE(s.Step().empty());  // nothing changed

    s.phases.fill(1);  // every crystal starts recording, with a flash
    s.view.flashAlphaAfter = 247;
    std::vector<Sent> sent = s.Step();
    ASSERT_EQ(sent.size(), 17u);
    for (int k = 0; k < 16; ++k) {
        EXPECT_EQ(sent[k].path, "/solvane/crystal");
        EXPECT_EQ(sent[k].types, "is");
        EXPECT_EQ(sent[k].i, k);
        EXPECT_EQ(sent[k].s, "recording");
    }
    EXPECT_EQ(sent[16].path, "/solvane/flash");
    EXPECT_EQ(sent[16].types, "");

    s.view.flashAlphaAfter = 239;  // the flash fading is no new flash
    EXPECT_TRUE(s.Step().empty());

    // The recording ends for all at once: one voice of the list's blocks.
    s.phases.fill(2);
    s.view.recordedBlocks = 35;
    sent = s.Step();
    ASSERT_EQ(sent.size(), 17u);
    EXPECT_EQ(sent[3].s, "revealing");
    EXPECT_EQ(sent[16].path, "/solvane/voice");
    EXPECT_EQ(sent[16].types, "if");
    EXPECT_EQ(sent[16].i, 35);
    EXPECT_FLOAT_EQ(sent[16].f0, 1.75f);

    // One crystal moves on alone; a resting crystal that listens again is
    // a change but stores nothing.
    s.phases[5] = 3;
    sent = s.Step();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].i, 5);
    EXPECT_EQ(sent[0].s, "showing");
    s.phases[5] = 5;
    s.Step();
    s.phases[5] = 0;
    sent = s.Step();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].s, "listening");

    // Two pictures launched since the last step.
    s.view.flightsStarted += 2;
    sent = s.Step();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].path, "/solvane/picture");
    EXPECT_EQ(sent[1].path, "/solvane/picture");

    // A phase the names do not know is not sent.
    s.phases[0] = 99;
    EXPECT_TRUE(s.Step().empty());
}

TEST(OscReporter, HeartbeatOnceASecondOfTheStepClock)
{
    Stepper s;
    s.Step();
    std::vector<Sent> beats;
    for (int k = 0; k < 100; ++k)  // 100 steps of 51 ms: 5.1 s
        for (const Sent& sent : s.Step())
            if (sent.path == "/solvane/heartbeat") beats.push_back(sent);
    ASSERT_EQ(beats.size(), 5u);
    EXPECT_EQ(beats[0].types, "if");
    EXPECT_EQ(beats[0].i, 21);  // steps so far, when 20 steps (1020 ms) have passed
    EXPECT_NEAR(beats[0].f0, 1000.0 / 51.0, 0.01);
    EXPECT_EQ(beats[4].i, 101);

    // The millisecond clock wraps: the heartbeat keeps its pace.
    Stepper wrapping;
    wrapping.view.clockMs = 0xFFFFFFFFu - 500;
    wrapping.Step();
    int count = 0;
    for (int k = 0; k < 40; ++k)
        for (const Sent& sent : wrapping.Step(50)) count += sent.path == "/solvane/heartbeat";
    EXPECT_EQ(count, 2);
}

TEST(OscReporter, LevelOfABlockInDbfs)
{
    RecordingSink sink;
    OscReporter reporter(sink);
    struct Case {
        const char* name;
        std::vector<std::int16_t> samples;
        double peak;
        double rms;
    };
    std::vector<std::int16_t> sine(8000);
    for (std::size_t k = 0; k < sine.size(); ++k)  // 1 kHz at 160 kHz: whole periods
        sine[k] = static_cast<std::int16_t>(std::lround(16384.0 * std::sin(2 * M_PI * 1000.0 * k / 160000.0)));
    std::vector<std::int16_t> square(8000);
    for (std::size_t k = 0; k < square.size(); ++k) square[k] = (k / 80) % 2 ? -32768 : 32767;
    const Case cases[] = {
        {"silence", std::vector<std::int16_t>(8000, 0), -120.0, -120.0},
        {"half-scale sine", sine, -6.02, -9.03},
        {"full-scale square", square, 0.0, 0.0},
        {"one negative sample", {0, 0, -3277, 0}, -20.0, -26.02},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        reporter.OnBlock(c.samples.data(), c.samples.size());
        std::vector<Sent> sent = sink.Take();
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0].path, "/solvane/level");
        EXPECT_EQ(sent[0].types, "ff");
        EXPECT_NEAR(sent[0].f0, c.peak, 0.01);
        EXPECT_NEAR(sent[0].f1, c.rms, 0.01);
    }
}

}  // namespace
