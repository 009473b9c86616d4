#include "operator/StepPace.h"

#include <algorithm>
#include <cmath>

namespace {

QuantileSketch StepTimes() { return QuantileSketch(0.01, 1e-2, 1e6); }

}  // namespace

StepPace::StepPace() : seconds_(kSeconds, Second{-1, 0, StepTimes()}), minute_(StepTimes()) {}

StepPace::Second& StepPace::SlotFor(std::int64_t index)
{
    Second& slot = seconds_[static_cast<std::size_t>(index % kSeconds)];
    if (slot.index != index) {
        slot.index = index;
        slot.steps = 0;
        slot.times.Clear();
    }
    return slot;
}

void StepPace::AddStep(double stepMilliseconds, double nowSeconds)
{
    if (firstStepAt_ < 0) firstStepAt_ = nowSeconds;
    auto index = static_cast<std::int64_t>(std::floor(std::max(0.0, nowSeconds)));
    Second& slot = SlotFor(index);
    ++slot.steps;
    slot.times.Add(stepMilliseconds);
    if (index != lastIndex_) {
        lastIndex_ = index;
        RefreshP99(index);
    } else if (minute_.Count() == 0) {
        p99_ = slot.times.Quantile(0.99);
    }
}

void StepPace::RefreshP99(std::int64_t current)
{
    minute_.Clear();
    for (const Second& slot : seconds_)
        if (slot.index >= current - kSeconds && slot.index < current) minute_.Merge(slot.times);
    p99_ = minute_.Count() > 0 ? minute_.Quantile(0.99) : SlotFor(current).times.Quantile(0.99);
}

double StepPace::StepsPerSecond(double nowSeconds) const
{
    if (firstStepAt_ < 0) return 0;
    auto current = static_cast<std::int64_t>(std::floor(std::max(0.0, nowSeconds)));
    std::uint64_t steps = 0;
    for (const Second& slot : seconds_)
        if (slot.index > current - 10 && slot.index <= current) steps += slot.steps;
    double from = std::max(firstStepAt_, static_cast<double>(current - 9));
    double span = nowSeconds - from;
    // Right after the first step the span is too short to mean anything.
    if (span < 0.05) return 0;
    return static_cast<double>(steps) / span;
}
