// A forward complex FFT in single precision, the one place that sees KissFFT.
// The plan is built once by Init; Transform allocates nothing.
#pragma once

#include <memory>

#include "common/NonCopyable.h"

class Fft : NonCopyable {
public:
    Fft();
    ~Fft();

    // Plans a transform of `points` complex values; false when the plan
    // cannot be made (points < 1 or out of memory).
    bool Init(int points);
    // In place over 2 * points floats, real and imaginary parts interleaved:
    // X[k] = sum over j of x[j] * exp(-2 pi i j k / points), unscaled.
    // Does nothing before a successful Init.
    void Transform(float* data);
    int Points() const { return points_; }

private:
    struct Plan;
    std::unique_ptr<Plan> plan_;
    int points_ = 0;
};
