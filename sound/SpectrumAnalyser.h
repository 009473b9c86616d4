// The spectrum of the first n samples of a microphone block as a table of
// levels, one per frequency bin: a distance below a full-scale sine on a
// 40 log10 scale, clamped to a floor (smaller is louder). The shape builder
// reads the 40 lowest bins to pick the pitch of the voice.
//
// All sixteen crystals analyse the same block in one scene step; the
// analyser keeps a copy of the input it last analysed and returns the table
// it already has when it is asked about the same samples and floor again.
#pragma once

#include <cstdint>
#include <memory>

#include "common/NonCopyable.h"
#include "sound/FourierTransform.h"

class SpectrumAnalyser : NonCopyable {
public:
    SpectrumAnalyser() = default;
    virtual ~SpectrumAnalyser() = default;

    // n: samples per analysis, a power of two (4096 in the installation).
    bool Init(int n);
    // Reads n samples; always true once initialised (false before Init).
    bool Analyse(const std::int16_t* samples, float floor);

    int Size() const { return size_; }
    // 2n entries; entries 0 .. n/2 - 1 hold the levels of the last analysis.
    const float* Levels() const { return levels_.get(); }
    const float* Window() const { return window_.get(); }
    // How many analyses were computed (not answered from the last result).
    std::uint64_t TransformsDone() const { return transformsDone_; }

private:
    int size_ = 0;
    FourierTransform transform_;
    std::unique_ptr<float[]> levels_;
    std::unique_ptr<float[]> window_;
    std::unique_ptr<float[]> work_;

    std::unique_ptr<std::int16_t[]> lastInput_;
    float lastFloor_ = 0.0f;
    bool hasLast_ = false;
    std::uint64_t transformsDone_ = 0;
};
