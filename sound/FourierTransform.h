// The complex discrete Fourier transform the spectrum analyser uses: n
// points, minus sign in the exponent, no scaling. Its tables are built once
// by Init; Transform allocates nothing.
#pragma once

#include "common/NonCopyable.h"
#include "platform/system/Fft.h"

class FourierTransform : NonCopyable {
public:
    FourierTransform() = default;
    virtual ~FourierTransform() = default;

    // n complex points (a power of two of at least 4); `complex` and
    // `forward` are the only setting the installation uses (true, true).
    bool Init(int n, bool complex, bool forward);
    // In place over 2n floats, real and imaginary parts interleaved.
    void Transform(float* data);

    int Points() const { return points_; }

private:
    Fft fft_;
    int points_ = 0;
    bool forward_ = true;
};
