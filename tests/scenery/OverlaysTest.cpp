// Placement and opacity of the title and copyright pictures, read from the
// sprite quads that the recording device kept.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ostream>

#include "scenery/CopyrightOverlay.h"
#include "scenery/TitleOverlay.h"
#include "support/SceneTestHost.h"

namespace {

struct Quad {
    float left, top, right, bottom;
    unsigned alpha;
};

void PrintTo(const Quad& q, std::ostream* out)
{
    *out << "(" << q.left << ", " << q.top << ") to (" << q.right << ", " << q.bottom << "), alpha " << q.alpha;
}

// Each edge to float precision, the alpha exactly.
MATCHER_P5(IsQuad, left, top, right, bottom, alpha, "")
{
    using ::testing::FloatEq;
    return ::testing::Value(arg.left, FloatEq(left)) && ::testing::Value(arg.top, FloatEq(top)) &&
           ::testing::Value(arg.right, FloatEq(right)) && ::testing::Value(arg.bottom, FloatEq(bottom)) &&
           arg.alpha == static_cast<unsigned>(alpha);
}

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
    EXPECT_THAT(LastQuad(host.Recorder()), IsQuad(192.0f, 112.0f, 448.0f, 368.0f, 255));

    title.DrawFaded(host.Device(), 0, 0.5f);
    EXPECT_THAT(LastQuad(host.Recorder()), IsQuad(256.0f, 176.0f, 384.0f, 304.0f, 0));
}

TEST_F(OverlaysTest, CopyrightEndsAtTheBottomRightCorner)
{
    CopyrightOverlay copyright;
    ASSERT_TRUE(copyright.Load(&host.Renderer(), 640, 480, folder + "/CopyRight.png"));
    copyright.DrawFaded(host.Device(), 128);
    EXPECT_THAT(LastQuad(host.Recorder()), IsQuad(384.0f, 416.0f, 640.0f, 480.0f, 128));
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
