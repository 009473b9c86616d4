// The complex DFT of the spectrum analyser, on the platform's FFT.
#include "sound/FourierTransform.h"

bool FourierTransform::Init(int n, bool complex, bool forward)
{
    points_ = 0;
    forward_ = forward;
    // Only the forward complex transform of a power-of-two size is offered.
    if (!complex || !forward || n < 4 || (n & (n - 1)) != 0) return false;
    if (!fft_.Init(n)) return false;
    points_ = n;
    return true;
}

void FourierTransform::Transform(float* data)
{
    if (points_ == 0) return;
    fft_.Transform(data);
}
