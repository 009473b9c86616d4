// --video: the run as a movie file. Joins what the step loop sees and hears
// (the presented picture, the blocks after the gain, the echo) into the
// recorder's steps; the recorder encodes them on its own thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/Options.h"
#include "platform/d3d9/d3d9.h"
#include "render/VideoRecorder.h"
#include "sound/Soundtrack.h"

struct MusicWave;

class VideoRecording {
public:
    explicit VideoRecording(const Options& options);

    // A clear line in error for a name that is neither .mp4 nor .mkv, or a
    // file that cannot be made.
    bool Start(std::string& error);
    void Heard(const std::int16_t* samples, std::size_t count) { soundtrack_.AddHeard(samples, count); }
    void Echo(const MusicWave& wave);
    // After each step: its picture (read back when one was presented) and sound.
    void Step(IDirect3DDevice9* device, bool presented);
    void Finish() { recorder_.Finish(); }
    VideoCounts Counts() const { return recorder_.Counts(); }

private:
    Soundtrack soundtrack_;
    VideoRecorder recorder_;
    std::vector<std::int16_t> sound_;
};
