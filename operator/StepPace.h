// The pace of the step loop for the health report: steps per second over
// the last 10 s and the step time's 99th percentile over the last minute, in
// fixed memory (one small sketch per second of the last minute).
// Threads: the step loop only.
#pragma once

#include <cstdint>
#include <vector>

#include "operator/QuantileSketch.h"

class StepPace {
public:
    StepPace();

    // `nowSeconds`: a steady clock's seconds, never going back.
    void AddStep(double stepMilliseconds, double nowSeconds);
    // Steps in the last 10 s per second (over the time since the first step
    // when that is shorter).
    double StepsPerSecond(double nowSeconds) const;
    // Over the last minute of whole seconds (the current second until one
    // is complete); refreshed once a second.
    double StepMsP99() const { return p99_; }

private:
    struct Second {
        std::int64_t index = -1;
        std::uint32_t steps = 0;
        QuantileSketch times;
    };
    static constexpr int kSeconds = 60;

    Second& SlotFor(std::int64_t index);
    void RefreshP99(std::int64_t current);

    std::vector<Second> seconds_;
    QuantileSketch minute_;
    double firstStepAt_ = -1;
    std::int64_t lastIndex_ = -1;
    double p99_ = 0;
};
