// The three scene events driven through the sequencer on the recording
// device: step counts, hand-overs, Escape, the fades, steering, an inactive
// window and device-loss recovery.
#include <gtest/gtest.h>

#include "support/SceneTestHost.h"
#include "crystal/CrystalCluster.h"
#include "crystal/World.h"
#include "scene/EventCreate.h"
#include "scene/EventFinish.h"
#include "scene/EventSequencer.h"
#include "scene/EventTitle.h"
#include "scene/SceneState.h"
#include "scenery/IncomingImages.h"

namespace {

constexpr DWORD kFadeFvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1;

class SceneEventsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(host.Start());
        ASSERT_TRUE(SetUpWholeScene(host, "scene-events", world, images, sequencer));
        RotationAngle = 0.0f;
        FlashAlpha = 0;
    }

    void TearDown() override { world.Shutdown(); }

    int Presents() { return host.Recorder()->Calls().presents; }

    void Steps(int count)
    {
        for (int i = 0; i < count; ++i) sequencer.Step();
    }

    // Runs the title out and lets the main scene take over.
    void ReachMainScene()
    {
        Steps(EventTitle::kLastFrame + 1);
        ASSERT_STREQ(sequencer.Current()->Name(), "EventCreate");
    }

    // The untextured white quads of the recorded frames (left edge alpha,
    // right edge alpha); sprites are quads too, but textured.
    std::vector<std::pair<unsigned, unsigned>> FadeAlphasOfLastFrame()
    {
        std::vector<std::pair<unsigned, unsigned>> alphas;
        for (const RecordedDraw& draw : host.Recorder()->Draws()) {
            if (draw.fvf != kFadeFvf || draw.type != D3DPT_TRIANGLEFAN || draw.VertexCount() != 4) continue;
            if (draw.state && draw.state->textures[0] != nullptr) continue;
            alphas.emplace_back(draw.DwordAt(0, 16) >> 24, draw.DwordAt(2, 16) >> 24);
        }
        return alphas;
    }

    SceneTestHost host;
    World world;
    IncomingImages images;
    EventSequencer sequencer;
};

TEST_F(SceneEventsTest, TitleLastsSixtyFiveSteps)
{
    Event* title = sequencer.Current();
    Steps(EventTitle::kLastFrame);
    EXPECT_EQ(sequencer.Current(), title);
    EXPECT_EQ(Presents(), 64);
    sequencer.Step();
    EXPECT_EQ(sequencer.Current(), sequencer.FindByName("EventCreate"));
    EXPECT_EQ(Presents(), 65);
    EXPECT_EQ(static_cast<EventTitle*>(title)->Frame(), 65);
    EXPECT_EQ(host.CloseRequests(), 0);
}

TEST_F(SceneEventsTest, TitleStandsStill)
{
    RotationAngle = 10.0f;
    Steps(10);
    EXPECT_EQ(RotationAngle, 10.0f);
}

TEST_F(SceneEventsTest, EscapeDuringTheTitleClosesAtOnce)
{
    Steps(5);
    host.heldKeys.insert(VK_ESCAPE);
    sequencer.Step();
    EXPECT_EQ(host.CloseRequests(), 1);
    EXPECT_STREQ(sequencer.Current()->Name(), "EventTitle");
}

TEST_F(SceneEventsTest, EscapeIsNotLookedAtOnTheLastTitleStep)
{
    Steps(EventTitle::kLastFrame);
    host.heldKeys.insert(VK_ESCAPE);
    sequencer.Step();
    EXPECT_EQ(host.CloseRequests(), 0);
    EXPECT_STREQ(sequencer.Current()->Name(), "EventCreate");
    // The main scene sees it and starts the closing sequence.
    sequencer.Step();
    EXPECT_STREQ(sequencer.Current()->Name(), "EventFinish");
    EXPECT_EQ(host.CloseRequests(), 0);
}

TEST_F(SceneEventsTest, TitleFramesAreWhiteBehindTheTitleThenFade)
{
    host.Recorder()->ClearDraws();
    sequencer.Step();
    auto alphas = FadeAlphasOfLastFrame();
    ASSERT_FALSE(alphas.empty());
    EXPECT_EQ(alphas.back().first, 255u);
    EXPECT_EQ(alphas.back().second, 255u);

    Steps(32);  // frames 1..32
    host.Recorder()->ClearDraws();
    sequencer.Step();  // frame 33
    alphas = FadeAlphasOfLastFrame();
    ASSERT_FALSE(alphas.empty());
    EXPECT_EQ(alphas.back().second, 247u);
    EXPECT_EQ(alphas.back().first, 255u);  // twice 247, held at full
}

TEST_F(SceneEventsTest, ClosingSequenceFadesToWhiteAndCloses)
{
    ReachMainScene();
    host.heldKeys.insert(VK_ESCAPE);
    sequencer.Step();
    host.heldKeys.clear();
    ASSERT_STREQ(sequencer.Current()->Name(), "EventFinish");

    host.Recorder()->ClearDraws();
    sequencer.Step();  // n = 0
    auto alphas = FadeAlphasOfLastFrame();
    ASSERT_FALSE(alphas.empty());
    EXPECT_EQ(alphas.back().first, 0u);
    EXPECT_EQ(alphas.back().second, 0u);

    Steps(95);  // n = 1 .. 95
    EXPECT_EQ(host.CloseRequests(), 0);
    host.Recorder()->ClearDraws();
    sequencer.Step();  // n = 96
    alphas = FadeAlphasOfLastFrame();
    ASSERT_FALSE(alphas.empty());
    EXPECT_EQ(alphas.back().first, 255u);
    EXPECT_EQ(alphas.back().second, 255u);
    EXPECT_EQ(host.CloseRequests(), 1);
    EXPECT_STREQ(sequencer.Current()->Name(), "EventFinish");
}

TEST_F(SceneEventsTest, EscapeDuringTheClosingSequenceChangesNothing)
{
    ReachMainScene();
    host.heldKeys.insert(VK_ESCAPE);
    Steps(1 + 96);
    EXPECT_EQ(host.CloseRequests(), 0);
    sequencer.Step();
    EXPECT_EQ(host.CloseRequests(), 1);
}

TEST_F(SceneEventsTest, ArrowsSteerTheMainScene)
{
    ReachMainScene();
    RotationAngle = 100.0f;
    host.heldKeys = {VK_LEFT, VK_RIGHT};
    sequencer.Step();
    EXPECT_NEAR(RotationAngle, 99.5f, 1e-4f);
    host.heldKeys = {VK_LEFT};
    sequencer.Step();
    EXPECT_NEAR(RotationAngle, 101.0f, 1e-4f);
    host.heldKeys = {VK_RIGHT};
    sequencer.Step();
    EXPECT_NEAR(RotationAngle, 98.5f, 1e-4f);
    host.heldKeys.clear();
    sequencer.Step();
    EXPECT_NEAR(RotationAngle, 98.0f, 1e-4f);
}

TEST_F(SceneEventsTest, InactiveWindowTakesNoStep)
{
    Steps(3);
    host.active = false;
    Steps(100);
    EXPECT_EQ(Presents(), 3);
    EXPECT_EQ(static_cast<EventTitle*>(sequencer.Current())->Frame(), 3);
    host.active = true;
    sequencer.Step();
    EXPECT_EQ(static_cast<EventTitle*>(sequencer.Current())->Frame(), 4);

    // The same holds in the main scene and after teardown.
    Steps(EventTitle::kLastFrame + 1 - 4);
    ASSERT_STREQ(sequencer.Current()->Name(), "EventCreate");
    const int presents = Presents();
    RotationAngle = 50.0f;
    host.active = false;
    host.heldKeys.insert(VK_ESCAPE);
    Steps(5);
    EXPECT_EQ(Presents(), presents);
    EXPECT_EQ(RotationAngle, 50.0f);
    EXPECT_STREQ(sequencer.Current()->Name(), "EventCreate");
    host.active = true;
    host.running = false;
    Steps(5);
    EXPECT_EQ(Presents(), presents);
}

TEST_F(SceneEventsTest, EveryFrameIsClearedToBlackAndPresented)
{
    sequencer.Step();
    EXPECT_EQ(host.Recorder()->LastClearFlags(), D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER);
    EXPECT_EQ(host.Recorder()->LastClearColour(), 0xFF000000u);
    EXPECT_EQ(host.Recorder()->Calls().beginScenes, 1);
    EXPECT_EQ(host.Recorder()->Calls().endScenes, 1);
    EXPECT_EQ(Presents(), 1);
}

TEST_F(SceneEventsTest, FailedBeginSceneStillPresents)
{
    host.Recorder()->FailBeginScene(E_FAIL);
    host.Recorder()->ClearDraws();
    sequencer.Step();
    EXPECT_TRUE(host.Recorder()->Draws().empty());
    EXPECT_EQ(host.Recorder()->Calls().endScenes, 0);
    EXPECT_EQ(Presents(), 1);
}

TEST_F(SceneEventsTest, LostDeviceIsResetWhenItCanBe)
{
    const int resets = host.Recorder()->Calls().resets;
    host.Recorder()->SimulateLoss(D3DERR_DEVICELOST, D3DERR_DEVICELOST);
    sequencer.Step();
    EXPECT_EQ(host.Recorder()->Calls().resets, resets);

    host.Recorder()->SimulateLoss(D3DERR_DEVICELOST, D3DERR_DEVICENOTRESET);
    sequencer.Step();
    // Reset, then the resize resets once more.
    EXPECT_EQ(host.Recorder()->Calls().resets, resets + 2);
    sequencer.Step();
    EXPECT_EQ(host.Recorder()->Calls().resets, resets + 2);
}

TEST_F(SceneEventsTest, FlashShowsOnThirtyTwoFramesAfterTheLastRequest)
{
    ReachMainScene();
    ASSERT_TRUE(world.crystals);
    Crystal& crystal = *world.crystals->crystals[3];

    // In the main scene the only untextured white quad is the flash.
    std::vector<unsigned> shown;
    for (int frame = 0; frame < 40; ++frame) {
        crystal.flashRequest = frame < 3;
        host.Recorder()->ClearDraws();
        sequencer.Step();
        auto quads = FadeAlphasOfLastFrame();
        ASSERT_LE(quads.size(), 1u) << frame;
        if (quads.empty()) continue;
        EXPECT_EQ(quads[0].first, quads[0].second) << "the flash is uniform";
        shown.push_back(quads[0].first);
    }
    ASSERT_EQ(shown.size(), 3u + 31u);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(shown[static_cast<std::size_t>(i)], 255u);
    for (std::size_t i = 3; i < shown.size(); ++i) EXPECT_EQ(shown[i], 255u - 8u * (i - 2)) << i;
    EXPECT_EQ(shown.back(), 7u);
    EXPECT_EQ(FlashAlpha, 0);
}

TEST_F(SceneEventsTest, PicturesStandStillDuringTheTitleAndFlyInTheMainScene)
{
    std::vector<std::uint8_t> picture(IncomingImage::kPictureBytes, 200);
    for (int i = 0; i < IncomingImages::kLaunchEvery; ++i) images.Launch(host.Device(), picture.data());
    IncomingImage& image = images.Image(0);
    ASSERT_TRUE(image.IsActive());
    const float before = image.Distance();
    Steps(10);
    EXPECT_EQ(image.Distance(), before);

    Steps(EventTitle::kLastFrame + 1 - 10);
    ASSERT_STREQ(sequencer.Current()->Name(), "EventCreate");
    EXPECT_EQ(image.Distance(), before);
    const float start = image.Distance();
    sequencer.Step();
    EXPECT_NEAR(start - image.Distance(), 3.0f, 1.5f);
}

}  // namespace
