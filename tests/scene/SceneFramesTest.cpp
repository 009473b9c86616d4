// Real frames of the title and the closing sequence on the OpenGL device
// (offscreen), checked by pixel values.
#include <gtest/gtest.h>

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

bool Near(Rgb pixel, int r, int g, int b, int tolerance = 8)
{
    return std::abs(pixel.r - r) <= tolerance && std::abs(pixel.g - g) <= tolerance && std::abs(pixel.b - b) <= tolerance;
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
    std::vector<std::uint8_t> frame = host.Frame();
    ASSERT_EQ(frame.size(), 640u * 480u * 3u);
    // White all round the picture.
    EXPECT_TRUE(Near(PixelAt(frame, 5, 5), 255, 255, 255));
    EXPECT_TRUE(Near(PixelAt(frame, 634, 474), 255, 255, 255));
    EXPECT_TRUE(Near(PixelAt(frame, 180, 240), 255, 255, 255));
    EXPECT_TRUE(Near(PixelAt(frame, 460, 240), 255, 255, 255));
    EXPECT_TRUE(Near(PixelAt(frame, 320, 100), 255, 255, 255));
    // The 256x256 picture covers (192, 112) to (448, 368): red left, green right.
    EXPECT_TRUE(Near(PixelAt(frame, 200, 240), 255, 0, 0));
    EXPECT_TRUE(Near(PixelAt(frame, 440, 240), 0, 255, 0));
    EXPECT_TRUE(Near(PixelAt(frame, 300, 120), 255, 0, 0));
    EXPECT_TRUE(Near(PixelAt(frame, 340, 360), 0, 255, 0));
}

TEST_F(SceneFramesTest, MainSceneIsBlackWhereNothingIsDrawn)
{
    for (int i = 0; i <= EventTitle::kLastFrame + 1; ++i) sequencer.Step();
    ASSERT_STREQ(sequencer.Current()->Name(), "EventCreate");
    std::vector<std::uint8_t> frame = host.Frame();
    ASSERT_EQ(frame.size(), 640u * 480u * 3u);
    EXPECT_TRUE(Near(PixelAt(frame, 5, 5), 0, 0, 0));
    EXPECT_TRUE(Near(PixelAt(frame, 320, 240), 0, 0, 0));
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
    std::vector<std::uint8_t> frame = host.Frame();
    ASSERT_EQ(frame.size(), 640u * 480u * 3u);
    EXPECT_TRUE(Near(PixelAt(frame, 5, 5), 255, 255, 255));
    EXPECT_TRUE(Near(PixelAt(frame, 320, 240), 255, 255, 255));
    EXPECT_TRUE(Near(PixelAt(frame, 380, 470), 255, 255, 255));
    // The 256x64 picture fills (384, 416) to (640, 480).
    EXPECT_TRUE(Near(PixelAt(frame, 390, 420), 255, 0, 0));
    EXPECT_TRUE(Near(PixelAt(frame, 635, 475), 0, 255, 0));
}

}  // namespace
