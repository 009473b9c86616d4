// Wave reading and rate conversion on SDL: SDL_LoadWAV parses the RIFF file
// (PCM, float, and the usual compressed variants SDL knows), and one
// SDL_AudioStream per conversion mixes the channels down and resamples.
#include "platform/WaveFile.h"

#include <SDL.h>

#include <algorithm>

namespace platform {
namespace {

// Runs bytes of the given format through one audio stream into mono 16-bit.
bool Convert(const Uint8* bytes, std::size_t size, SDL_AudioFormat format, int channels, int inputRate,
             int outputRate, std::vector<std::int16_t>& output, std::string& error)
{
    output.clear();
    SDL_AudioStream* stream = SDL_NewAudioStream(format, static_cast<Uint8>(channels), inputRate, AUDIO_S16SYS, 1,
                                                 outputRate);
    if (stream == nullptr) {
        error = std::string("cannot convert ") + std::to_string(channels) + " channels at " +
                std::to_string(inputRate) + " Hz: " + SDL_GetError();
        return false;
    }
    bool ok = true;
    // NOTE: SDL_AudioStreamPut takes an int length; feed large files in pieces.
    const std::size_t piece = 1u << 24;
    for (std::size_t done = 0; ok && done < size; done += piece) {
        std::size_t n = std::min(piece, size - done);
        if (SDL_AudioStreamPut(stream, bytes + done, static_cast<int>(n)) != 0) ok = false;
    }
    // NOTE: the resampler holds back the last few milliseconds even when
    // flushed; 20 ms of silence pushes them out, and the result is cut back to
    // the converted length of the real input.
    const int frameBytes = SDL_AUDIO_BITSIZE(format) / 8 * channels;
    const std::size_t frames = frameBytes > 0 ? size / static_cast<std::size_t>(frameBytes) : 0;
    if (ok && inputRate != outputRate && frames > 0) {
        std::vector<Uint8> silence(static_cast<std::size_t>(inputRate / 50 + 1) * static_cast<std::size_t>(frameBytes),
                                   SDL_AUDIO_ISSIGNED(format) || SDL_AUDIO_ISFLOAT(format) ? 0 : 0x80);
        if (SDL_AudioStreamPut(stream, silence.data(), static_cast<int>(silence.size())) != 0) ok = false;
    }
    if (ok && SDL_AudioStreamFlush(stream) != 0) ok = false;
    if (ok) {
        int available = SDL_AudioStreamAvailable(stream);
        output.resize(static_cast<std::size_t>(available) / sizeof(std::int16_t));
        if (available > 0) {
            int got = SDL_AudioStreamGet(stream, output.data(), available);
            if (got < 0) {
                ok = false;
            } else {
                output.resize(static_cast<std::size_t>(got) / sizeof(std::int16_t));
                auto wanted = static_cast<std::size_t>((static_cast<unsigned long long>(frames) * outputRate +
                                                        static_cast<unsigned long long>(inputRate) - 1) /
                                                       static_cast<unsigned long long>(inputRate));
                if (output.size() > wanted) output.resize(wanted);
            }
        }
    }
    if (!ok) error = std::string("conversion failed: ") + SDL_GetError();
    SDL_FreeAudioStream(stream);
    return ok;
}

}  // namespace

bool LoadMonoWave(const std::string& path, int targetRate, MonoWave& wave, std::string& error)
{
    SDL_AudioSpec fileFormat;
    Uint8* bytes = nullptr;
    Uint32 size = 0;
    if (SDL_LoadWAV(path.c_str(), &fileFormat, &bytes, &size) == nullptr) {
        error = "cannot read \"" + path + "\": " + SDL_GetError();
        return false;
    }
    int rate = targetRate > 0 ? targetRate : fileFormat.freq;
    bool ok = Convert(bytes, size, fileFormat.format, fileFormat.channels, fileFormat.freq, rate, wave.samples, error);
    SDL_FreeWAV(bytes);
    if (!ok) {
        error = "\"" + path + "\": " + error;
        return false;
    }
    wave.rate = rate;
    return true;
}

bool ResampleMono(const std::vector<std::int16_t>& input, int inputRate, int outputRate,
                  std::vector<std::int16_t>& output, std::string& error)
{
    if (inputRate <= 0 || outputRate <= 0) {
        error = "invalid sample rate";
        return false;
    }
    if (inputRate == outputRate) {
        output = input;
        return true;
    }
    return Convert(reinterpret_cast<const Uint8*>(input.data()), input.size() * sizeof(std::int16_t), AUDIO_S16SYS, 1,
                   inputRate, outputRate, output, error);
}

}  // namespace platform
