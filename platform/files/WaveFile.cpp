// Wave reading and rate conversion on SDL. Our own walk over the RIFF chunks
// checks the header first; only a file that passes is handed to SDL_LoadWAV_RW
// (from memory) to decode, and one SDL_AudioStream per conversion mixes the
// channels down and resamples, fed and emptied piece by piece.
#include "platform/files/WaveFile.h"

#include <SDL.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <memory>

#include "common/RegularFile.h"

namespace platform {
namespace {

constexpr std::uint16_t kFormatPcm = 0x0001;
constexpr std::uint16_t kFormatMsAdpcm = 0x0002;
constexpr std::uint16_t kFormatFloat = 0x0003;
constexpr std::uint16_t kFormatALaw = 0x0006;
constexpr std::uint16_t kFormatMuLaw = 0x0007;
constexpr std::uint16_t kFormatImaAdpcm = 0x0011;
constexpr std::uint16_t kFormatExtensible = 0xFFFE;

// What the header promises, checked before any decoding.
struct WaveHeader {
    std::uint16_t format = 0;
    int channels = 0;
    int rate = 0;
    int bits = 0;
    int blockAlign = 0;
    std::uint64_t dataBytes = 0;
};

std::uint32_t Get32(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint16_t Get16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

std::string FormatName(std::uint16_t format)
{
    char text[32];
    std::snprintf(text, sizeof text, "0x%04X", format);
    return text;
}

bool CheckFormat(const WaveHeader& h, std::string& error)
{
    if (h.channels < 1 || h.channels > kMaxWaveChannels) {
        error = std::to_string(h.channels) + " channels (1 to " + std::to_string(kMaxWaveChannels) +
                " are accepted)";
        return false;
    }
    if (h.rate < kMinWaveRate || h.rate > kMaxWaveRate) {
        error = "a rate of " + std::to_string(h.rate) + " Hz (" + std::to_string(kMinWaveRate) + " to " +
                std::to_string(kMaxWaveRate) + " Hz are accepted)";
        return false;
    }
    // What each plain format's samples may be, as the refusal names it.
    bool bitsAccepted = true;
    const char* accepted = "";
    switch (h.format) {
    case kFormatPcm:
        bitsAccepted = h.bits == 8 || h.bits == 16 || h.bits == 24 || h.bits == 32;
        accepted = "PCM (8, 16, 24 and 32 bits are accepted)";
        break;
    case kFormatFloat:
        bitsAccepted = h.bits == 32;
        accepted = "float samples (32 bits are accepted)";
        break;
    case kFormatALaw:
    case kFormatMuLaw:
        bitsAccepted = h.bits == 8;
        accepted = "A-law or mu-law samples (8 bits are accepted)";
        break;
    case kFormatMsAdpcm:
    case kFormatImaAdpcm:
        break;
    default:
        error = "sample format " + FormatName(h.format) + " (PCM, float, A-law, mu-law and ADPCM are accepted)";
        return false;
    }
    if (!bitsAccepted) {
        error = std::to_string(h.bits) + "-bit " + accepted;
        return false;
    }
    if (h.format == kFormatPcm || h.format == kFormatFloat || h.format == kFormatALaw || h.format == kFormatMuLaw) {
        if (h.blockAlign != h.channels * h.bits / 8) {
            error = "a block size of " + std::to_string(h.blockAlign) + " bytes for " + std::to_string(h.channels) +
                    " channels of " + std::to_string(h.bits) + " bits";
            return false;
        }
    } else if (h.blockAlign <= 0) {
        error = "a block size of 0 bytes";
        return false;
    }
    return true;
}

// Walks the chunks: "fmt " must come before "data", and every chunk must
// lie inside the file.
bool ReadHeader(const std::uint8_t* bytes, std::size_t size, WaveHeader& h, std::string& error)
{
    if (size < 12 || std::memcmp(bytes, "RIFF", 4) != 0 || std::memcmp(bytes + 8, "WAVE", 4) != 0) {
        error = "not a RIFF WAVE file";
        return false;
    }
    bool haveFormat = false;
    std::size_t at = 12;
    while (true) {
        if (size - at < 8) {
            error = haveFormat ? "no \"data\" chunk" : "no \"fmt \" chunk";
            return false;
        }
        const std::uint8_t* chunk = bytes + at;
        const std::uint64_t chunkBytes = Get32(chunk + 4);
        const std::size_t left = size - at - 8;
        if (chunkBytes > left) {
            error = "the \"" + std::string(reinterpret_cast<const char*>(chunk), 4) + "\" chunk claims " +
                    std::to_string(chunkBytes) + " bytes but the file holds " + std::to_string(left) +
                    " after its header";
            return false;
        }
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            // Two formats would leave the decoder and this check reading
            // different ones.
            if (haveFormat) {
                error = "two \"fmt \" chunks";
                return false;
            }
            if (chunkBytes < 16) {
                error = "a \"fmt \" chunk of " + std::to_string(chunkBytes) + " bytes";
                return false;
            }
            const std::uint8_t* f = chunk + 8;
            h.format = Get16(f);
            h.channels = Get16(f + 2);
            const std::uint32_t rate = Get32(f + 4);
            h.rate = rate > static_cast<std::uint32_t>(kMaxWaveRate) ? kMaxWaveRate + 1 : static_cast<int>(rate);
            if (rate > static_cast<std::uint32_t>(kMaxWaveRate)) {
                error = "a rate of " + std::to_string(rate) + " Hz (" + std::to_string(kMinWaveRate) + " to " +
                        std::to_string(kMaxWaveRate) + " Hz are accepted)";
                return false;
            }
            h.blockAlign = Get16(f + 12);
            h.bits = Get16(f + 14);
            if (h.format == kFormatExtensible) {
                if (chunkBytes < 40) {
                    error = "an extensible \"fmt \" chunk of " + std::to_string(chunkBytes) + " bytes";
                    return false;
                }
                h.format = Get16(f + 24);  // the first two bytes of the sub-format GUID
            }
            haveFormat = true;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            if (!haveFormat) {
                error = "a \"data\" chunk before the \"fmt \" chunk";
                return false;
            }
            h.dataBytes = chunkBytes;
            return true;
        }
        // Chunks are padded to an even length; the pad byte may be missing
        // after the last one.
        at += 8 + static_cast<std::size_t>(chunkBytes) + (chunkBytes & 1);
        if (at > size) at = size;
    }
}

bool CheckLength(const WaveHeader& h, std::string& error)
{
    // ADPCM packs a block of blockAlign bytes into at most about two samples
    // a byte per channel; the bound below is generous for both kinds.
    const std::uint64_t frames = h.format == kFormatMsAdpcm || h.format == kFormatImaAdpcm
                                     ? h.dataBytes * 2 / static_cast<std::uint64_t>(h.channels)
                                     : h.dataBytes / static_cast<std::uint64_t>(h.blockAlign);
    if (frames == 0) {
        error = "no samples";
        return false;
    }
    if (frames > static_cast<std::uint64_t>(h.rate) * kMaxWaveSeconds) {
        error = "a sound of " + std::to_string(frames / static_cast<std::uint64_t>(h.rate)) + " s (at most " +
                std::to_string(kMaxWaveSeconds) + " s are accepted)";
        return false;
    }
    return true;
}

const char* SdlReason()
{
    const char* reason = SDL_GetError();
    return reason != nullptr && reason[0] != '\0' ? reason : "the converter gave no reason";
}

struct StreamDeleter {
    void operator()(SDL_AudioStream* stream) const { SDL_FreeAudioStream(stream); }
};

// Moves what the stream has ready to the end of output.
bool Collect(SDL_AudioStream* stream, std::vector<std::int16_t>& output, std::string& error)
{
    const int available = SDL_AudioStreamAvailable(stream);
    if (available <= 0) return true;
    const std::size_t start = output.size();
    output.resize(start + static_cast<std::size_t>(available) / sizeof(std::int16_t));
    const int got = SDL_AudioStreamGet(stream, output.data() + start, available);
    if (got < 0) {
        error = std::string("conversion failed: cannot take the converted samples: ") + SdlReason();
        return false;
    }
    output.resize(start + static_cast<std::size_t>(got) / sizeof(std::int16_t));
    return true;
}

// Runs bytes of the given format through one audio stream into mono 16-bit.
// Input goes in pieces and the converted samples are taken out after each,
// so the stream never holds more than one piece's worth.
bool Convert(const Uint8* bytes, std::size_t size, SDL_AudioFormat format, int channels, int inputRate,
             int outputRate, std::vector<std::int16_t>& output, std::string& error)
{
    output.clear();
    const int frameBytes = SDL_AUDIO_BITSIZE(format) / 8 * channels;
    if (frameBytes <= 0) {
        error = "conversion failed: a frame of 0 bytes";
        return false;
    }
    const std::size_t frames = size / static_cast<std::size_t>(frameBytes);
    const auto wanted = static_cast<std::size_t>(
        (static_cast<unsigned long long>(frames) * static_cast<unsigned long long>(outputRate) +
         static_cast<unsigned long long>(inputRate) - 1) /
        static_cast<unsigned long long>(inputRate));
    std::unique_ptr<SDL_AudioStream, StreamDeleter> stream(
        SDL_NewAudioStream(format, static_cast<Uint8>(channels), inputRate, AUDIO_S16SYS, 1, outputRate));
    if (stream == nullptr) {
        error = "conversion failed: cannot convert " + std::to_string(channels) + " channels at " +
                std::to_string(inputRate) + " Hz to " + std::to_string(outputRate) + " Hz: " + SdlReason();
        return false;
    }
    output.reserve(wanted + 64);
    const std::size_t piece = static_cast<std::size_t>(frameBytes) * 16384;
    for (std::size_t done = 0; done < frames * static_cast<std::size_t>(frameBytes); done += piece) {
        const std::size_t n = std::min(piece, frames * static_cast<std::size_t>(frameBytes) - done);
        if (SDL_AudioStreamPut(stream.get(), bytes + done, static_cast<int>(n)) != 0) {
            error = std::string("conversion failed: cannot feed the converter: ") + SdlReason();
            return false;
        }
        if (!Collect(stream.get(), output, error)) return false;
    }
    // NOTE: the resampler holds back the last few milliseconds even when
    // flushed; 20 ms of silence pushes them out, and the result is cut back to
    // the converted length of the real input.
    if (inputRate != outputRate && frames > 0) {
        std::vector<Uint8> silence(static_cast<std::size_t>(inputRate / 50 + 1) * static_cast<std::size_t>(frameBytes),
                                   SDL_AUDIO_ISSIGNED(format) || SDL_AUDIO_ISFLOAT(format) ? 0 : 0x80);
        if (SDL_AudioStreamPut(stream.get(), silence.data(), static_cast<int>(silence.size())) != 0) {
            error = std::string("conversion failed: cannot feed the converter: ") + SdlReason();
            return false;
        }
    }
    if (SDL_AudioStreamFlush(stream.get()) != 0) {
        error = std::string("conversion failed: cannot flush the converter: ") + SdlReason();
        return false;
    }
    if (!Collect(stream.get(), output, error)) return false;
    if (output.size() > wanted) output.resize(wanted);
    if (output.empty()) {
        error = "no samples after decoding";
        return false;
    }
    return true;
}

struct WavDeleter {
    void operator()(Uint8* bytes) const { SDL_FreeWAV(bytes); }
};

}  // namespace

bool DecodeMonoWave(const std::uint8_t* bytes, std::size_t size, int targetRate, MonoWave& wave, std::string& error)
{
    WaveHeader header;
    if (!ReadHeader(bytes, size, header, error)) return false;
    if (!CheckFormat(header, error) || !CheckLength(header, error)) {
        error = "refused: " + error;
        return false;
    }
    if (targetRate != 0 && (targetRate < kMinWaveRate || targetRate > kMaxWaveRate)) {
        error = "cannot convert to " + std::to_string(targetRate) + " Hz";
        return false;
    }
    if (size > static_cast<std::size_t>(INT32_MAX)) {
        error = "refused: larger than 2 GB";
        return false;
    }
    SDL_RWops* source = SDL_RWFromConstMem(bytes, static_cast<int>(size));
    if (source == nullptr) {
        error = std::string("cannot read: ") + SdlReason();
        return false;
    }
    SDL_AudioSpec fileFormat;
    Uint8* decodedBytes = nullptr;
    Uint32 decodedSize = 0;
    if (SDL_LoadWAV_RW(source, 1, &fileFormat, &decodedBytes, &decodedSize) == nullptr) {
        error = std::string("cannot decode: ") + SdlReason();
        return false;
    }
    std::unique_ptr<Uint8, WavDeleter> decoded(decodedBytes);
    if (fileFormat.channels != header.channels || fileFormat.freq != header.rate) {
        error = "cannot decode: the decoder read " + std::to_string(fileFormat.channels) + " channels at " +
                std::to_string(fileFormat.freq) + " Hz where the header says " + std::to_string(header.channels) + " at " +
                std::to_string(header.rate) + " Hz";
        return false;
    }
    const int rate = targetRate > 0 ? targetRate : fileFormat.freq;
    if (!Convert(decoded.get(), decodedSize, fileFormat.format, fileFormat.channels, fileFormat.freq, rate, wave.samples, error))
        return false;
    wave.rate = rate;
    return true;
}

bool LoadMonoWave(const std::string& path, int targetRate, MonoWave& wave, std::string& error)
{
    // The largest file the checks could accept: the longest sound at the
    // highest rate, 8 channels of 32 bits, with room for other chunks.
    constexpr std::uint64_t kLargestFile =
        static_cast<std::uint64_t>(kMaxWaveRate) * kMaxWaveSeconds * kMaxWaveChannels * 4 + (1u << 20);
    std::vector<std::uint8_t> bytes;
    std::string why;
    if (!ReadRegularFile(path, std::min<std::uint64_t>(kLargestFile, INT32_MAX), bytes, why)) {
        error = "\"" + path + "\": " + (why == "missing" ? "cannot open the file" : "refused: " + why);
        return false;
    }
    if (!DecodeMonoWave(bytes.data(), bytes.size(), targetRate, wave, error)) {
        error = "\"" + path + "\": " + error;
        return false;
    }
    return true;
}

bool ResampleMono(const std::vector<std::int16_t>& input, int inputRate, int outputRate,
                  std::vector<std::int16_t>& output, std::string& error)
{
    if (inputRate < kMinWaveRate || inputRate > kMaxWaveRate || outputRate < kMinWaveRate ||
        outputRate > kMaxWaveRate) {
        error = "cannot convert " + std::to_string(inputRate) + " Hz to " + std::to_string(outputRate) + " Hz";
        return false;
    }
    if (inputRate == outputRate || input.empty()) {
        output = input;
        return true;
    }
    return Convert(reinterpret_cast<const Uint8*>(input.data()), input.size() * sizeof(std::int16_t), AUDIO_S16SYS, 1,
                   inputRate, outputRate, output, error);
}

}  // namespace platform
