#include <gtest/gtest.h>

#include "operator/RunStatistics.h"

namespace {

TEST(RunStatistics, SummaryUsesMedianNearestRankPercentileAndMax)
{
    std::vector<double> values;
    for (int i = 1; i <= 200; ++i) values.push_back(i);
    Summary s = RunStatistics::Summarise(values);
    EXPECT_DOUBLE_EQ(s.median, 100.5);
    EXPECT_DOUBLE_EQ(s.p99, 198);
    EXPECT_DOUBLE_EQ(s.max, 200);
    EXPECT_DOUBLE_EQ(RunStatistics::Summarise({}).max, 0);
}

TEST(RunStatistics, CountsOnlyPresentedFramesAndTheirIntervals)
{
    RunStatistics stats;
    StepSample shown;
    shown.presented = true;
    shown.gpuDraws = 12;
    StepSample skipped;  // an inactive window presents nothing
    stats.AddStep(shown, 0);
    stats.AddStep(skipped, 51);
    stats.AddStep(shown, 102);
    EXPECT_EQ(stats.Steps(), 3u);
    EXPECT_EQ(stats.Frames(), 2u);
    std::string json = stats.ToJson();
    EXPECT_NE(json.find("\"frames\": 2"), std::string::npos);
    EXPECT_NE(json.find("\"frame_interval_ms\": {\"median\": 102.000"), std::string::npos);
}

}  // namespace
