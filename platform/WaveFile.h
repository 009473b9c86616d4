// Reading wave files and converting sample rates for the sound code.
//
// Any PCM wave (any rate, any channel count, 8/16/32-bit or float) comes out
// as mono signed 16-bit samples at the rate the caller asks for. The voice
// file that stands in for the microphone and the stored voice that the music
// player loads both come through here.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

struct MonoWave {
    int rate = 0;                       // samples per second
    std::vector<std::int16_t> samples;  // mono, signed 16-bit
};

// Reads path and converts it to mono 16-bit at targetRate (0 keeps the
// file's own rate). On failure returns false and says why in error.
bool LoadMonoWave(const std::string& path, int targetRate, MonoWave& wave, std::string& error);

// Converts mono 16-bit samples from one rate to another.
bool ResampleMono(const std::vector<std::int16_t>& input, int inputRate, int outputRate,
                  std::vector<std::int16_t>& output, std::string& error);

}  // namespace platform
