// Real frames of the title and the closing sequence on the OpenGL device
// (offscreen), checked by pixel values.
#include <gtest/gtest.h>

#include <initializer_list>

#include "crystal/World.h"
#include "scene/EventSequencer.h"
#include "scene/EventTitle.h"
#include "scenery/IncomingImages.h"
#include "support/SceneTestHost.h"

namespace {

struct Rgb {
    int r, g, b;
};

Rgb PixelAt(const std::vector<std::uint8_t>& frame, int x, int y)
{
    const std::size_t at = (static_cast<std::size_t>(y) * 640 + static_cast<std::size_t>(x)) * 3;
    return {frame[at], frame[at + 1], frame[at + 2]};
}

bool Near(Rgb pixel, Rgb colour, int tolerance = 8)
{
    return std::abs(pixel.r - colour.r) <= tolerance && std::abs(pixel.g - colour.g) <= tolerance &&
           std::abs(pixel.b - colour.b) <= tolerance;
}

constexpr Rgb kWhite{255, 255, 255}, kBlack{0, 0, 0}, kRed{255, 0, 0}, kGreen{0, 255, 0};

struct Spot {
    int x, y;
    Rgb colour;
};

// A whole 640x480 frame, with each spot's pixel near its colour.
void ExpectSpots(const std::vector<std::uint8_t>& frame, std::initializer_list<Spot> spots)
{
    ASSERT_EQ(frame.size(), 640u * 480u * 3u);
    for (const Spot& spot : spots) {
        const Rgb pixel = PixelAt(frame, spot.x, spot.y);
        EXPECT_TRUE(Near(pixel, spot.colour)) << "at (" << spot.x << ", " << spot.y << "): " << pixel.r << ", "
                                              << pixel.g << ", " << pixel.b;
    }
}

class SceneFramesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string error;
        if (!host.StartDrawing(error)) GTEST_SKIP() << "no OpenGL device: " << error;
        ASSERT_TRUE(SetUpWholeScene(host, "scene-frames", world, images, sequencer));
    }

    void TearDown() override { world.Shutdown(); }

    SceneTestHost host;
    World world;
    IncomingImages images;
    EventSequencer sequencer;
};

TEST_F(SceneFramesTest, TitleIsCentredOnWhite)
{
    sequencer.Step();
    // White all round the picture; the 256x256 picture covers (192, 112) to
    // (448, 368): red left, green right.
    ExpectSpots(host.Frame(), {{5, 5, kWhite}, {634, 474, kWhite}, {180, 240, kWhite}, {460, 240, kWhite},
                               {320, 100, kWhite}, {200, 240, kRed}, {440, 240, kGreen}, {300, 120, kRed},
                               {340, 360, kGreen}});
}

TEST_F(SceneFramesTest, MainSceneIsBlackWhereNothingIsDrawn)
{
    for (int i = 0; i <= EventTitle::kLastFrame + 1; ++i) sequencer.Step();
    ASSERT_STREQ(sequencer.Current()->Name(), "EventCreate");
    ExpectSpots(host.Frame(), {{5, 5, kBlack}, {320, 240, kBlack}});
}

TEST_F(SceneFramesTest, ClosingEndsWhiteWithTheCopyrightAtTheBottomRight)
{
    for (int i = 0; i <= EventTitle::kLastFrame; ++i) sequencer.Step();
    host.heldKeys.insert(VK_ESCAPE);
    sequencer.Step();
    host.heldKeys.clear();
    ASSERT_STREQ(sequencer.Current()->Name(), "EventFinish");
    for (int n = 0; n <= 96; ++n) sequencer.Step();
    EXPECT_EQ(host.CloseRequests(), 1);
    // White, and the 256x64 picture fills (384, 416) to (640, 480).
    ExpectSpots(host.Frame(), {{5, 5, kWhite}, {320, 240, kWhite}, {380, 470, kWhite}, {390, 420, kRed},
                               {635, 475, kGreen}});
}

}  // namespace
