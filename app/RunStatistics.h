// Figures of one run, for --stats: steps, frames, step and frame times
// (median, 99th percentile, maximum), draw calls and triangles per frame,
// live sparks, pictures in flight and the crystals' phases. Written as JSON
// at exit and summed up in one line on stderr.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

struct StepSample {
    double stepMilliseconds = 0;  // CPU-side duration of the scene step, rendering included
    bool presented = false;
    std::uint32_t gpuDraws = 0;
    std::uint32_t immediateCalls = 0;
    std::uint32_t triangles = 0;
    std::uint32_t liveSparks = 0;
    std::uint32_t picturesInFlight = 0;
    std::array<std::uint32_t, 6> crystalsInPhase{};  // listening, recording, revealing, showing, dissolving, resting
};

struct Summary {
    double median = 0;
    double p99 = 0;
    double max = 0;
};

class RunStatistics {
public:
    void AddStep(const StepSample& sample, double wallMilliseconds);
    void AddFrameWritten() { ++framesWritten_; }

    std::uint32_t Steps() const { return static_cast<std::uint32_t>(steps_.size()); }
    std::uint32_t Frames() const { return frames_; }

    std::string ToJson() const;
    std::string SummaryLine() const;
    bool WriteJson(const std::string& path, std::string& error) const;

    static Summary Summarise(std::vector<double> values);

private:
    std::vector<StepSample> steps_;
    std::vector<double> frameIntervals_;  // wall time between presented frames
    double lastPresentAt_ = -1;
    std::uint32_t frames_ = 0;
    std::uint32_t framesWritten_ = 0;
};
