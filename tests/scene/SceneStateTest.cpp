// The shared view state: steering, drift, wrap-around and the flash decay.
#include <gtest/gtest.h>

#include <cmath>

#include "scene/SceneState.h"

namespace {

class SceneStateTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        RotationAngle = 0.0f;
        FlashAlpha = 0;
        ResetModelRotation();
    }
};

TEST_F(SceneStateTest, NoKeyDriftsHalfADegreeAndWrapsBelowZero)
{
    RotationAngle = 0.2f;
    TurnModel(false, false);
    EXPECT_NEAR(RotationAngle, 359.7f, 1e-3f);
    // The matrix shows the angle from before the drift.
    EXPECT_NEAR(ModelRotation._11, std::cos(0.2f * 0.017453289f), 1e-6f);
    EXPECT_NEAR(ModelRotation._13, -std::sin(0.2f * 0.017453289f), 1e-6f);
}

TEST_F(SceneStateTest, KeysSetTheTurnRate)
{
    RotationAngle = 100.0f;
    TurnModel(true, false);
    EXPECT_NEAR(RotationAngle, 101.5f, 1e-4f);
    TurnModel(false, true);
    EXPECT_NEAR(RotationAngle, 99.0f, 1e-4f);
    // Both arrows cancel: the idle rate remains.
    TurnModel(true, true);
    EXPECT_NEAR(RotationAngle, 98.5f, 1e-4f);
}

TEST_F(SceneStateTest, AngleStaysWithinAFullTurn)
{
    RotationAngle = 359.0f;
    TurnModel(true, false);  // 361 -> 1, then drift
    EXPECT_NEAR(RotationAngle, 0.5f, 1e-4f);
    RotationAngle = 1.0f;
    TurnModel(false, true);  // -1 -> 359, then drift
    EXPECT_NEAR(RotationAngle, 358.5f, 1e-4f);
    for (int i = 0; i < 2000; ++i) {
        TurnModel(i % 3 == 0, i % 5 == 0);
        ASSERT_GE(RotationAngle, 0.0f);
        ASSERT_LE(RotationAngle, 360.0f);
    }
}

TEST_F(SceneStateTest, RotationAboutTheVerticalAxis)
{
    D3DMATRIX m = scene::RotationAboutY(90.0f);
    EXPECT_NEAR(m._11, 0.0f, 1e-6f);
    EXPECT_NEAR(m._13, -1.0f, 1e-6f);
    EXPECT_NEAR(m._31, 1.0f, 1e-6f);
    EXPECT_NEAR(m._33, 0.0f, 1e-6f);
    EXPECT_EQ(m._22, 1.0f);
    EXPECT_EQ(m._44, 1.0f);
    EXPECT_EQ(m._12, 0.0f);
    EXPECT_EQ(m._41, 0.0f);
}

TEST_F(SceneStateTest, FlashShowsThirtyTwoFramesAfterTheLastRequest)
{
    for (int i = 0; i < 5; ++i) EXPECT_EQ(NextFlashAlpha(true), 255);
    int shown = 1;  // the frame of the last request above
    int expected = 247;
    for (;;) {
        int alpha = NextFlashAlpha(false);
        if (alpha == 0) break;
        EXPECT_EQ(alpha, expected);
        expected -= 8;
        ++shown;
    }
    EXPECT_EQ(shown, 32);
    EXPECT_EQ(expected, -1);  // the last one shown was 7
    EXPECT_EQ(FlashAlpha, 0);
    EXPECT_EQ(NextFlashAlpha(false), 0);
}

TEST_F(SceneStateTest, NoRequestNoFlash)
{
    EXPECT_EQ(NextFlashAlpha(false), 0);
    EXPECT_EQ(FlashAlpha, 0);
}

}  // namespace
