// The PCM format record of the Windows waveform-audio interface that the
// sound code keeps (the capture buffer header lives in win32types.h).
// Plain data, no system library.
#pragma once

#include "platform/system/win32types.h"

constexpr WORD WAVE_FORMAT_PCM = 1;

struct WAVEFORMATEX {
    WORD wFormatTag = 0;
    WORD nChannels = 0;
    DWORD nSamplesPerSec = 0;
    DWORD nAvgBytesPerSec = 0;
    WORD nBlockAlign = 0;
    WORD wBitsPerSample = 0;
    WORD cbSize = 0;
};
