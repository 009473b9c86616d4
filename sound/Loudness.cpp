// The peak scan of a microphone block.
#include "sound/Loudness.h"

#include <algorithm>

int BlockPeak(std::span<const std::int16_t> block)
{
    int peak = 0;
    for (const std::int16_t sample : block) peak = std::max<int>(peak, sample);
    return peak;
}
