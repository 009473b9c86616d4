// The body's ring counters and growth steps.
#include <cmath>

#include <gtest/gtest.h>

#include "crystal/CrystalBody.h"

namespace {

constexpr float kShapeTolerance = 1e-5f;

TEST(CrystalBodyShape, CreatePlantsASeedAndNothingIsShown)
{
    CrystalBody body;
    ASSERT_TRUE(body.Create(nullptr));
    EXPECT_EQ(body.builtRings, 1);
    EXPECT_EQ(body.targetRings, 0);
    EXPECT_EQ(body.consumedRings, 0);
    EXPECT_EQ(body.shownRings, 0);
    EXPECT_TRUE(body.capVisible);
    EXPECT_EQ(body.Ring(0).radius, 0.1f);
    EXPECT_EQ(body.ResetShape(0.3f), 1);
    EXPECT_EQ(body.Ring(0).radius, 0.3f);
}

TEST(CrystalBodyShape, FirstRingLeansTenDegreesOffTheVerticalAtTheStepDistance)
{
    const float tilt = 10.0f * DegreesToRadians;
    struct Case {
        float step, turn;
        float x, y, z;  // expected centre of ring 1
    };
    // Turn 0 leans about the first corner's direction (+x), towards -z;
    // a quarter turn moves that side to -z and the lean towards -x.
    const Case cases[] = {
        {0.8f, 0.0f, 0.0f, 0.8f * std::cos(tilt), -0.8f * std::sin(tilt)},
        {0.5f, 90.0f, -0.5f * std::sin(tilt), 0.5f * std::cos(tilt), 0.0f},
    };
    for (const Case& c : cases) {
        CrystalBody body;
        ASSERT_TRUE(body.Create(nullptr));
        ASSERT_TRUE(body.GrowStep(c.step, 10.0f, c.turn, 1.2f, 3, 7000));
        const CrystalRing& ring = body.Ring(1);
        EXPECT_NEAR(ring.centre.x, c.x, kShapeTolerance);
        EXPECT_NEAR(ring.centre.y, c.y, kShapeTolerance);
        EXPECT_NEAR(ring.centre.z, c.z, kShapeTolerance);
        EXPECT_NEAR(std::sqrt(Dot(ring.centre, ring.centre)), c.step, kShapeTolerance);
        EXPECT_NEAR(std::acos(ring.axis.y), tilt, 1e-4f);
        EXPECT_EQ(ring.radius, 1.2f);
        EXPECT_EQ(ring.bandTag, 3);
        EXPECT_EQ(ring.peakSample, 7000);
        EXPECT_EQ(ring.previous, &body.Ring(0));
        EXPECT_EQ(body.builtRings, 2);
        EXPECT_EQ(body.targetRings, 2);
        EXPECT_EQ(body.shownRings, 2);
    }
}

TEST(CrystalBodyShape, EveryStepBendsAwayFromThePreviousAxis)
{
    CrystalBody body;
    ASSERT_TRUE(body.Create(nullptr));
    for (int i = 0; i < 20; ++i) ASSERT_TRUE(body.GrowStep(0.8f, 10.0f, 45.0f, 1.2f, 2, 9000));
    for (int i = 2; i <= 20; ++i) {
        const Vector3 step = body.Ring(i).centre - body.Ring(i - 1).centre;
        EXPECT_NEAR(std::sqrt(Dot(step, step)), 0.8f, 1e-4f) << "ring " << i;
    }
}

TEST(CrystalBodyShape, BodyIsFullAtRing1023)
{
    CrystalBody body;
    ASSERT_TRUE(body.Create(nullptr));
    int appended = 0;
    while (body.GrowStep(0.8f, 10.0f, 0.0f, 1.2f, 0, 0)) ++appended;
    EXPECT_EQ(appended, 1023);
    EXPECT_EQ(body.builtRings, 1024);
    EXPECT_EQ(body.shownRings, 1024);
    const Vector3 top = body.Ring(1023).centre;
    const float offset[4] = {1.0f, 0.0f, 0.0f, 1.0f};
    EXPECT_FALSE(body.AppendRing(offset, 1.2f, 0, 0));
    EXPECT_FALSE(body.GrowStep(0.8f, 10.0f, 0.0f, 1.2f, 0, 0));
    EXPECT_EQ(body.builtRings, 1024);
    EXPECT_EQ(body.Ring(1023).centre.x, top.x);
}

TEST(CrystalBodyShape, NoSeedNoGrowth)
{
    CrystalBody body;  // never created: no ring block
    const float offset[4] = {0.0f, 1.0f, 0.0f, 1.0f};
    EXPECT_FALSE(body.AppendRing(offset, 1.2f, 0, 0));
    EXPECT_FALSE(body.GrowStep(0.8f, 10.0f, 0.0f, 1.2f, 0, 0));
    EXPECT_EQ(body.builtRings, 0);
}

}  // namespace
