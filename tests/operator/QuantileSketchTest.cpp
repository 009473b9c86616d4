// The bounded percentiles of the run statistics and the health report,
// checked against exact nearest-rank percentiles of the same values.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "operator/QuantileSketch.h"
#include "operator/RunStatistics.h"
#include "operator/StepPace.h"

namespace {

double Exact(std::vector<double> values, double q)
{
    std::sort(values.begin(), values.end());
    auto rank = static_cast<std::size_t>(std::ceil(q * static_cast<double>(values.size())));
    return values[std::max<std::size_t>(rank, 1) - 1];
}

TEST(QuantileSketch, PercentilesStayWithinTheRelativeErrorOfTheExactOnes)
{
    std::mt19937 random(7);
    std::lognormal_distribution<double> stepTimes(0.5, 1.2);
    for (int run = 0; run < 20; ++run) {
        QuantileSketch sketch(0.005, 1e-3, 1e7);
        std::vector<double> values;
        int count = 1 + static_cast<int>(random() % 5000);
        for (int i = 0; i < count; ++i) {
            double v = stepTimes(random);
            values.push_back(v);
            sketch.Add(v);
        }
        for (double q : {0.01, 0.5, 0.9, 0.99, 1.0}) {
            double exact = Exact(values, q);
            EXPECT_NEAR(sketch.Quantile(q), exact, exact * 0.0051) << "run " << run << " q " << q;
        }
        EXPECT_DOUBLE_EQ(sketch.Max(), *std::max_element(values.begin(), values.end()));
    }
}

TEST(QuantileSketch, SmallCountsComeOutExactAndZeroStaysZero)
{
    QuantileSketch sketch(0.005, 0.5, 1e10, true);
    std::vector<double> values;
    for (int i = 0; i < 1000; ++i) {
        double v = (i * 37) % 101;  // 0 ... 100, zeros included
        values.push_back(v);
        sketch.Add(v);
    }
    for (double q : {0.0, 0.05, 0.5, 0.99, 1.0}) EXPECT_EQ(sketch.Quantile(q), Exact(values, q)) << q;
}

TEST(QuantileSketch, MergingEqualsAddingEverythingToOne)
{
    QuantileSketch a(0.01, 1e-2, 1e6), b(0.01, 1e-2, 1e6), all(0.01, 1e-2, 1e6);
    for (int i = 1; i <= 300; ++i) {
        (i % 3 == 0 ? a : b).Add(i * 0.25);
        all.Add(i * 0.25);
    }
    a.Merge(b);
    EXPECT_EQ(a.Count(), all.Count());
    for (double q : {0.1, 0.5, 0.99}) EXPECT_DOUBLE_EQ(a.Quantile(q), all.Quantile(q));
}

TEST(RunStatistics, AMillionStepsKeepTheSameFiguresAsTheFirstThousand)
{
    // The figures of a long run come from fixed storage: a repeating pattern
    // of steps gives the same percentiles after 1 000 or 1 000 000 steps.
    RunStatistics shortRun, longRun;
    for (int i = 0; i < 1000000; ++i) {
        StepSample sample;
        sample.stepMilliseconds = 1.0 + (i % 100) * 0.1;
        sample.presented = true;
        sample.gpuDraws = 20 + i % 7;
        if (i < 1000) shortRun.AddStep(sample, i * 51.0);
        longRun.AddStep(sample, i * 51.0);
    }
    EXPECT_EQ(longRun.Steps(), 1000000u);
    EXPECT_EQ(shortRun.SummaryLine().substr(shortRun.SummaryLine().find(';')),
              longRun.SummaryLine().substr(longRun.SummaryLine().find(';')));
}

TEST(StepPace, StepsPerSecondOverTheLastTenSeconds)
{
    StepPace pace;
    // 20 steps a second for a minute, then 5 a second.
    double t = 0;
    for (; t < 60; t += 0.05) pace.AddStep(2.0, t);
    EXPECT_NEAR(pace.StepsPerSecond(t), 20.0, 0.5);
    for (double end = t + 15; t < end; t += 0.2) pace.AddStep(2.0, t);
    EXPECT_NEAR(pace.StepsPerSecond(t), 5.0, 0.3);
}

TEST(StepPace, TheP99ForgetsSlowStepsAfterAMinute)
{
    StepPace pace;
    double t = 0;
    for (int i = 0; i < 1200; ++i, t += 0.05) pace.AddStep(i % 50 == 0 ? 80.0 : 3.0, t);  // 2% slow steps
    EXPECT_NEAR(pace.StepMsP99(), 80.0, 1.0);
    for (int i = 0; i < 1400; ++i, t += 0.05) pace.AddStep(3.0, t);
    EXPECT_NEAR(pace.StepMsP99(), 3.0, 0.05);
}

}  // namespace
