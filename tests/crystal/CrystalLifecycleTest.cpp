// The six phases of a crystal's life: how long each lasts, what starts and
// ends it, the flash after a long silence, and the recorded voice.
#include <vector>

#include "CrystalFixture.h"
#include "crystal/Crystal.h"
#include "crystal/CrystalCluster.h"

namespace {

class CrystalLifecycleTest : public CrystalFixture {
protected:
    void SetUp() override
    {
        CrystalFixture::SetUp();
        ASSERT_TRUE(crystal.Create(&world, device));
    }

    void Step() { crystal.Update(device, MatrixIdentity()); }

    // `count` steps, each after a loud or a quiet block.
    void Steps(int count, bool loud)
    {
        for (int i = 0; i < count; ++i) {
            loud ? FeedLoud() : FeedQuiet();
            Step();
        }
    }

    // Steps taken while the crystal stays in `phase` (the leaving step counts).
    int StepsIn(int phase, bool loud)
    {
        int steps = 0;
        while (crystal.phase == phase && steps < 2000) {
            loud ? FeedLoud() : FeedQuiet();
            Step();
            ++steps;
        }
        return steps;
    }

    // From listening, `quietSteps` quiet steps, then a loud one: it records.
    void HearAfter(int quietSteps)
    {
        Steps(quietSteps, false);
        Steps(1, true);
        ASSERT_EQ(crystal.phase, Recording);
    }

    // From listening, a loud block and then `loudSteps` loud recording steps.
    void Record(int loudSteps)
    {
        HearAfter(0);
        Steps(loudSteps, true);
    }

    Crystal crystal;
};

TEST_F(CrystalLifecycleTest, FiveQuietStepsEndTheRecording)
{
    Record(3);
    EXPECT_EQ(crystal.body->builtRings, 4);
    for (int i = 0; i < 4; ++i) {
        FeedQuiet();
        Step();
        ASSERT_EQ(crystal.phase, Recording) << "quiet step " << i + 1;
    }
    // A loud block in between starts the count again.
    FeedLoud();
    Step();
    EXPECT_EQ(crystal.quietFrames, 0);
    EXPECT_EQ(StepsIn(Recording, false), 5);
    EXPECT_EQ(crystal.phase, Revealing);
    EXPECT_EQ(crystal.recordedFrames, 13);
    // Every recording step grew a ring, quiet ones too.
    EXPECT_EQ(crystal.body->builtRings, 14);
}

TEST_F(CrystalLifecycleTest, LoudRecordingEndsAfterItsFiveHundredThirteenthStep)
{
    FeedLoud();
    Step();
    EXPECT_EQ(StepsIn(Recording, true), 513);
    EXPECT_EQ(crystal.phase, Revealing);
    EXPECT_EQ(crystal.body->builtRings, 514);
    EXPECT_EQ(crystal.body->shownRings, 514);
}

TEST_F(CrystalLifecycleTest, ShowingAndRestingLastSeventeenStepsThenASeed)
{
    Record(5);
    StepsIn(Recording, false);
    const int shown = crystal.body->shownRings;
    EXPECT_EQ(shown, 11);
    // Every ring is shown already, so revealing ends in its first step.
    EXPECT_EQ(StepsIn(Revealing, false), 1);
    EXPECT_EQ(StepsIn(Showing, true), 17);
    EXPECT_EQ(crystal.phase, Dissolving);
    // Four rings per step; the step that reaches the top ends it.
    EXPECT_EQ(StepsIn(Dissolving, true), (shown + 3) / 4);
    EXPECT_EQ(world.lights->LiveCount(), 4 * ((shown + 3) / 4 - 1));
    EXPECT_EQ(crystal.phase, Resting);
    EXPECT_EQ(StepsIn(Resting, true), 17);
    EXPECT_EQ(crystal.phase, Listening);
    EXPECT_EQ(crystal.body->builtRings, 1);
    EXPECT_EQ(crystal.body->shownRings, 0);
    EXPECT_EQ(crystal.recordedFrames, 0);
    EXPECT_EQ(crystal.quietFrames, 1);
    EXPECT_EQ(world.recordingList->Count(), 0);
}

TEST_F(CrystalLifecycleTest, OnlyAListeningCrystalReactsToSound)
{
    Record(1);
    StepsIn(Recording, false);
    StepsIn(Revealing, false);
    ASSERT_EQ(crystal.phase, Showing);
    Steps(10, true);
    EXPECT_EQ(crystal.phase, Showing);
    EXPECT_EQ(crystal.body->builtRings, 7);
}

TEST_F(CrystalLifecycleTest, NegativeHalfWaveAloneIsQuiet)
{
    std::vector<std::int16_t> block(8000);
    for (int j = 0; j < 8000; ++j) block[j] = static_cast<std::int16_t>(j % 2 == 0 ? -30000 : 4000);
    world.StoreBlock(block.data(), 16000);
    EXPECT_FALSE(crystal.IsLoud());
    Step();
    EXPECT_EQ(crystal.phase, Listening);
    block[17] = 4001;
    world.StoreBlock(block.data(), 16000);
    EXPECT_TRUE(crystal.IsLoud());
}

TEST_F(CrystalLifecycleTest, FlashAfterMoreThanFortyEightListeningSteps)
{
    HearAfter(47);  // in the 48th listening step
    EXPECT_FALSE(crystal.flashRequest);
    EXPECT_EQ(crystal.listeningFrames, 0);
}

TEST_F(CrystalLifecycleTest, FlashRequestLastsUntilTheFirstRecordingStep)
{
    HearAfter(48);  // in the 49th listening step
    EXPECT_TRUE(crystal.flashRequest);
    Steps(1, true);
    EXPECT_FALSE(crystal.flashRequest);
}

class CrystalClusterLifecycle : public CrystalFixture {};

TEST_F(CrystalClusterLifecycle, EachRecordedBlockIsKeptOnceForAllSixteen)
{
    CrystalCluster cluster;
    ASSERT_TRUE(cluster.Create(&world, device));
    std::vector<std::int16_t> first;
    for (int step = 0; step < 6; ++step) {
        FeedBlock(9000 + step, 80);
        if (step == 0) first.assign(world.recordingBuffer, world.recordingBuffer + 8000);
        cluster.Update(device, MatrixIdentity());
    }
    for (const auto& crystal : cluster.crystals) ASSERT_EQ(crystal->phase, Recording);
    // The block that started the recording and every block since, once each.
    ASSERT_EQ(world.recordingList->Count(), 6);
    EXPECT_EQ((*world.recordingList)[0]->samples[0], first[0]);
    EXPECT_EQ((*world.recordingList)[5]->samples[0], 9005);

    // A step without a new block adds nothing.
    cluster.Update(device, MatrixIdentity());
    EXPECT_EQ(world.recordingList->Count(), 6);
}

TEST_F(CrystalClusterLifecycle, AllSixteenGrowTheSameShapeFromOneAnalysisPerBlock)
{
    CrystalCluster cluster;
    ASSERT_TRUE(cluster.Create(&world, device));
    const int periods[] = {400, 400, 120, 60, 60, 200};
    for (int period : periods) {
        FeedBlock(10000, period);
        cluster.Update(device, MatrixIdentity());
    }
    // One transform per block that a recording crystal read.
    EXPECT_EQ(world.analyser->TransformsDone(), 4u);
    const CrystalBody& reference = *cluster.crystals[0]->body;
    EXPECT_EQ(reference.builtRings, 6);
    for (const auto& crystal : cluster.crystals) {
        const CrystalBody& body = *crystal->body;
        ASSERT_EQ(body.builtRings, reference.builtRings);
        for (int i = 0; i < body.builtRings; ++i) {
            ASSERT_EQ(body.Ring(i).centre.x, reference.Ring(i).centre.x);
            ASSERT_EQ(body.Ring(i).centre.y, reference.Ring(i).centre.y);
            ASSERT_EQ(body.Ring(i).bandTag, reference.Ring(i).bandTag);
        }
    }
}

TEST_F(CrystalClusterLifecycle, FlashRequestedWhileAnyCrystalAsks)
{
    CrystalCluster cluster;
    ASSERT_TRUE(cluster.Create(&world, device));
    EXPECT_FALSE(cluster.FlashRequested());
    cluster.crystals[13]->flashRequest = true;
    EXPECT_TRUE(cluster.FlashRequested());
    cluster.crystals[13]->flashRequest = false;
    cluster.crystals[2]->flashRequest = true;
    EXPECT_TRUE(cluster.FlashRequested());
}

}  // namespace
