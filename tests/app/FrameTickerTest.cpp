#include <gtest/gtest.h>

#include <initializer_list>

#include "app/FrameTicker.h"

namespace {

TEST(FrameTicker, FirstReadingNeverSteps)
{
    FrameTicker ticker;
    EXPECT_FALSE(ticker.StepDue(100000));
    EXPECT_FALSE(ticker.StepDue(100000));
}

struct Reading {
    DWORD now;
    bool stepDue;
};

// A 50 ms ticker whose first reading is at 0, then the readings in order.
void ExpectStepsAfterStartAtZero(std::initializer_list<Reading> readings)
{
    FrameTicker ticker(50);
    ticker.StepDue(0);
    for (const Reading& reading : readings)
        EXPECT_EQ(ticker.StepDue(reading.now), reading.stepDue) << "at " << reading.now;
}

TEST(FrameTicker, NeedsStrictlyMoreThanTheInterval)
{
    ExpectStepsAfterStartAtZero({{50, false}, {51, true}, {101, false}, {102, true}});
}

TEST(FrameTicker, NoCatchUpAfterALongPause)
{
    ExpectStepsAfterStartAtZero({{10000, true}, {10001, false}, {10050, false}, {10051, true}});
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
