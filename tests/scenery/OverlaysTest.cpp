// Placement and opacity of the title and copyright pictures, read from the
// sprite quads that the recording device kept.
#include <gtest/gtest.h>

#include "scenery/CopyrightOverlay.h"
#include "scenery/TitleOverlay.h"
#include "support/SceneTestHost.h"

namespace {

struct Quad {
    float left, top, right, bottom;
    unsigned alpha;
};

Quad LastQuad(RecordingDevice* device)
{
    const RecordedDraw& draw = device->Draws().back();
    // Sprite vertices: x, y, z, rhw, colour, u, v; fan from the top left.
    return {draw.FloatAt(0, 0), draw.FloatAt(0, 4), draw.FloatAt(2, 0), draw.FloatAt(2, 4), draw.DwordAt(0, 16) >> 24};
}

class OverlaysTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(host.Start());
        folder = MakeDataFolder("overlays", {"title.png", "CopyRight.png"});
    }

    SceneTestHost host;
    std::string folder;
};

TEST_F(OverlaysTest, TitleIsCentredAtAnyScale)
{
    TitleOverlay title;
    ASSERT_TRUE(title.Load(&host.Renderer(), 640, 480, folder + "/title.png"));
    EXPECT_EQ(title.Position().x, 192.0f);
    EXPECT_EQ(title.Position().y, 112.0f);

    title.DrawFaded(host.Device(), 255, 1.0f);
    Quad q = LastQuad(host.Recorder());
    EXPECT_FLOAT_EQ(q.left, 192.0f);
    EXPECT_FLOAT_EQ(q.top, 112.0f);
    EXPECT_FLOAT_EQ(q.right, 448.0f);
    EXPECT_FLOAT_EQ(q.bottom, 368.0f);
    EXPECT_EQ(q.alpha, 255u);

    title.DrawFaded(host.Device(), 0, 0.5f);
    q = LastQuad(host.Recorder());
    EXPECT_FLOAT_EQ(q.left, 256.0f);
    EXPECT_FLOAT_EQ(q.right, 384.0f);
    EXPECT_FLOAT_EQ(q.top, 176.0f);
    EXPECT_FLOAT_EQ(q.bottom, 304.0f);
    EXPECT_EQ(q.alpha, 0u);
}

TEST_F(OverlaysTest, CopyrightEndsAtTheBottomRightCorner)
{
    CopyrightOverlay copyright;
    ASSERT_TRUE(copyright.Load(&host.Renderer(), 640, 480, folder + "/CopyRight.png"));
    copyright.DrawFaded(host.Device(), 128);
    Quad q = LastQuad(host.Recorder());
    EXPECT_FLOAT_EQ(q.left, 384.0f);
    EXPECT_FLOAT_EQ(q.top, 416.0f);
    EXPECT_FLOAT_EQ(q.right, 640.0f);
    EXPECT_FLOAT_EQ(q.bottom, 480.0f);
    EXPECT_EQ(q.alpha, 128u);
}

TEST_F(OverlaysTest, MissingPictureFailsTheLoad)
{
    TitleOverlay title;
    EXPECT_FALSE(title.Load(&host.Renderer(), 640, 480, folder + "/absent.png"));
    // Never loaded: drawing it does nothing.
    host.Recorder()->ClearDraws();
    title.DrawFaded(host.Device(), 255, 1.0f);
    EXPECT_TRUE(host.Recorder()->Draws().empty());
}

TEST_F(OverlaysTest, OverlaysTakePartInDeviceResets)
{
    const int before = host.Renderer().Resources().Count();
    TitleOverlay title;
    ASSERT_TRUE(title.Load(&host.Renderer(), 640, 480, folder + "/title.png"));
    CopyrightOverlay copyright;
    ASSERT_TRUE(copyright.Load(&host.Renderer(), 640, 480, folder + "/CopyRight.png"));
    EXPECT_EQ(host.Renderer().Resources().Count(), before + 2);
    EXPECT_TRUE(host.Renderer().ResetDevice());
    title.DrawFaded(host.Device(), 255, 1.0f);
    EXPECT_FALSE(host.Recorder()->Draws().empty());
    host.Renderer().ReleaseAll();
}

}  // namespace
