// Figures of one run, for --stats: steps, frames, step and frame times
// (median, 99th percentile, maximum), process CPU per step, draw calls,
// triangles, bytes uploaded to GPU buffers, texture binds and GL state calls
// per frame,
// live sparks, pictures in flight and the crystals' phases. Written as JSON
// at exit and summed up in one line on stderr.
// NOTE: the figures are kept in fixed memory (sketches whose percentiles are
// within half a percent), since an installation may run for weeks.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "operator/QuantileSketch.h"

struct StepSample {
    double stepMilliseconds = 0;  // CPU-side duration of the scene step, rendering included
    bool presented = false;
    std::uint32_t gpuDraws = 0;
    std::uint32_t immediateCalls = 0;
    std::uint32_t triangles = 0;
    std::uint32_t uploadBytes = 0;
    std::uint32_t textureBinds = 0;
    std::uint32_t stateCalls = 0;
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
    // The process's CPU time (every thread, the renderer's included) from
    // the start of one step to the start of the next.
    void AddStepCpu(double milliseconds) { stepCpu_.Add(milliseconds); }

    RunStatistics();

    std::uint32_t Steps() const { return static_cast<std::uint32_t>(steps_); }
    std::uint32_t Frames() const { return frames_; }

    std::string ToJson() const;
    std::string SummaryLine() const;
    bool WriteJson(const std::string& path, std::string& error) const;

    static Summary Summarise(std::vector<double> values);
    static Summary Summarise(const QuantileSketch& sketch);

private:
    std::uint64_t steps_ = 0;
    QuantileSketch stepTimes_;
    QuantileSketch stepCpu_;
    QuantileSketch frameIntervals_;  // wall time between presented frames
    QuantileSketch draws_;           // per presented frame
    QuantileSketch calls_;
    QuantileSketch triangles_;
    QuantileSketch uploads_;
    QuantileSketch binds_;
    QuantileSketch stateCalls_;
    QuantileSketch sparks_;          // per step
    QuantileSketch pictures_;
    std::array<std::uint64_t, 6> phaseSteps_{};
    double lastPresentAt_ = -1;
    std::uint32_t frames_ = 0;
    std::uint32_t framesWritten_ = 0;
};
