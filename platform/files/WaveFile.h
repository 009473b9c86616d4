// Reading wave files and converting sample rates for the sound code.
//
// Any wave SDL can decode (PCM 8/16/24/32-bit, 32-bit float, the usual
// ADPCM and law variants) comes out as mono signed 16-bit samples at the rate
// the caller asks for. The voice file that stands in for the microphone and
// the stored voice that the music player loads both come through here.
//
// A file's header is checked before anything is decoded or converted, so a
// damaged or hostile file is refused quickly and cheaply: rates outside
// kMinRate..kMaxRate, more than kMaxChannels channels, sizes that reach past
// the end of the file, and sounds longer than kMaxSeconds are refused with
// the reason in words. The memory a conversion takes is the output it
// produces plus a fixed amount.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

constexpr int kMinWaveRate = 8000;
constexpr int kMaxWaveRate = 384000;
constexpr int kMaxWaveChannels = 8;
// Long enough for any voice; short enough that the converted samples of the
// longest accepted file (at 160 000 Hz) fit comfortably in memory.
constexpr int kMaxWaveSeconds = 15 * 60;

struct MonoWave {
    int rate = 0;                       // samples per second
    std::vector<std::int16_t> samples;  // mono, signed 16-bit
};

// Reads path and converts it to mono 16-bit at targetRate (0 keeps the
// file's own rate). On failure returns false and says why in error, naming
// the file.
bool LoadMonoWave(const std::string& path, int targetRate, MonoWave& wave, std::string& error);

// The same for the bytes of a whole file already in memory; error does not
// name a file.
bool DecodeMonoWave(const std::uint8_t* bytes, std::size_t size, int targetRate, MonoWave& wave,
                    std::string& error);

// Converts mono 16-bit samples from one rate to another (both in
// kMinWaveRate..kMaxWaveRate).
bool ResampleMono(const std::vector<std::int16_t>& input, int inputRate, int outputRate,
                  std::vector<std::int16_t>& output, std::string& error);

}  // namespace platform
