#include <gtest/gtest.h>

#include "app/FrameTicker.h"

namespace {

TEST(FrameTicker, FirstReadingNeverSteps)
{
    FrameTicker ticker;
    EXPECT_FALSE(ticker.StepDue(100000));
    EXPECT_FALSE(ticker.StepDue(100000));
}

TEST(FrameTicker, NeedsStrictlyMoreThanTheInterval)
{
    FrameTicker ticker(50);
    ticker.StepDue(0);
    EXPECT_FALSE(ticker.StepDue(50));
    EXPECT_TRUE(ticker.StepDue(51));
    EXPECT_FALSE(ticker.StepDue(101));
    EXPECT_TRUE(ticker.StepDue(102));
}

TEST(FrameTicker, NoCatchUpAfterALongPause)
{
    FrameTicker ticker(50);
    ticker.StepDue(0);
    EXPECT_TRUE(ticker.StepDue(10000));
    EXPECT_FALSE(ticker.StepDue(10001));
    EXPECT_FALSE(ticker.StepDue(10050));
    EXPECT_TRUE(ticker.StepDue(10051));
}

TEST(FrameTicker, SurvivesTheWrapOfTheCounter)
{
    FrameTicker ticker(50);
    DWORD start = 0xFFFFFFFFu - 20;
    ticker.StepDue(start);
    EXPECT_FALSE(ticker.StepDue(start + 50));  // wrapped to 29
    EXPECT_TRUE(ticker.StepDue(start + 51));
    int steps = 0;
    for (DWORD t = start + 51; t != start + 51 + 51 * 100; ++t)
        if (ticker.StepDue(t)) ++steps;
    EXPECT_EQ(steps, 99);  // one every 51 ms, the first reading in the loop is the last step
}

TEST(FrameTicker, TellsTheLoopHowLongToSleep)
{
    FrameTicker ticker(50);
    EXPECT_EQ(ticker.MillisecondsUntilDue(0), 0u);
    ticker.StepDue(1000);
    EXPECT_EQ(ticker.MillisecondsUntilDue(1000), 51u);
    EXPECT_EQ(ticker.MillisecondsUntilDue(1050), 1u);
    EXPECT_EQ(ticker.MillisecondsUntilDue(1051), 0u);
}

}  // namespace
