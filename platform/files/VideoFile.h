// A movie file of pictures and sound: H.264 video and AAC sound, in MP4
// (fragmented, so that a file cut off at any moment plays up to its last
// fragment) or Matroska, chosen by the file's name. Pictures come as RGB
// rows and are scaled to the file's size; sound comes as mono 16-bit
// samples at one rate and is resampled for the encoder. Every timestamp
// counts pictures or samples handed in, never the clock.
//
// Threads: one object is used by one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/NonCopyable.h"

namespace platform {

enum class VideoContainer { None, Mp4, Matroska };

// By the name's ending (.mp4, .mkv, any case); None for any other name.
VideoContainer ContainerForName(const std::string& path);

struct VideoFileSettings {
    int width = 640;
    int height = 480;
    int framesPerSecond = 20;
    int soundRate = 160000;       // of the samples handed to WriteSound
    // One encoder thread and bit-exact output, no time of making in the
    // file: the same input gives the same bytes.
    bool deterministic = false;
};

class VideoFile : NonCopyable {
public:
    VideoFile();
    ~VideoFile();

    // Creates the file (a regular file of that name is replaced; a link or
    // anything else is refused). False with error set on failure.
    bool Open(const std::string& path, const VideoFileSettings& settings, std::string& error);
    // The picture shown from frameIndex / framesPerSecond seconds on; the
    // indices rise, and a gap holds the previous picture longer.
    bool WriteFrame(const std::uint8_t* rgb, int width, int height, std::int64_t frameIndex, std::string& error);
    // Appends samples to the sound track.
    bool WriteSound(const std::int16_t* samples, std::size_t count, std::string& error);
    // Makes what is written so far survive a power cut.
    void Sync();
    // Drains the encoders and ends the file. Safe to repeat.
    bool Close(std::string& error);
    bool IsOpen() const;
    // The last failure was a full disk (or quota).
    bool DiskFull() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

// What a movie file holds, read back through the decoders (tests, checks).
struct VideoProbe {
    int width = 0;
    int height = 0;
    double framesPerSecond = 0;    // the stream's average rate
    std::int64_t frames = 0;       // pictures that decode
    int soundRate = 0;
    std::int64_t soundSamples = 0; // samples that decode, per channel
    std::vector<std::uint8_t> rgb; // the picture asked for, as RGB rows; empty when not reached
};

// Decodes the whole file; keeps picture number wantedFrame (from 0).
bool ProbeVideo(const std::string& path, std::int64_t wantedFrame, VideoProbe& probe, std::string& error);

}  // namespace platform
