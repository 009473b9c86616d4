// Feeds arbitrary bytes to the voice file reader, converting to the capture
// rate as --voice does and keeping the file's rate as the music loader does.
#include "platform/files/WaveFile.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    for (int rate : {160000, 0}) {
        platform::MonoWave wave;
        std::string error;
        const bool ok = platform::DecodeMonoWave(data, size, rate, wave, error);
        // A success is a sound of the rate asked for; a failure says why.
        if (ok && (wave.samples.empty() || (rate != 0 && wave.rate != rate))) std::abort();
        if (!ok && error.empty()) std::abort();
    }
    return 0;
}
