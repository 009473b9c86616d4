// Records a run into movie files on a thread of its own, so that a step
// never waits for the encoder. The loop hands over each step's picture and
// its 50 ms of sound; picture n of a file is shown from n / 20 s and its
// sound starts there too, both counted in steps.
//
// Live, the queue holds a few pictures: when the encoder falls behind, a
// step's picture is dropped (the file holds the previous one longer) and
// counted, never its sound. Offline (--fast) the loop waits instead, so the
// file is the same on every run. With a picture count per file, a new
// numbered file (name-0001.mp4, name-0002.mp4, ...) starts each time that
// many steps are done. A full disk or a failed write ends the recording with
// one line; the run goes on.
//
// Threads: AddStep, Counts and Finish from the loop thread.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/NonCopyable.h"
#include "platform/files/VideoFile.h"

struct VideoRecorderSettings {
    std::string path;
    bool offline = false;
    std::uint32_t stepsPerFile = 0;   // 0: one file
    std::size_t queuedPictures = 8;   // live: pictures waiting before one is dropped
    std::size_t queuedSteps = 1200;   // live: a minute of sound waiting ends the recording
};

struct VideoCounts {
    std::string state = "off";        // off, recording, stopped
    std::string file;                 // the file being written (the last one, once stopped)
    std::uint64_t frames = 0;         // pictures encoded
    std::uint64_t dropped = 0;        // pictures dropped because the encoder was behind
    double encoderCpuMsPerFrame = 0;  // the encoder thread's CPU time per picture
};

class VideoRecorder : NonCopyable {
public:
    explicit VideoRecorder(VideoRecorderSettings settings);
    ~VideoRecorder();

    // Opens the first file here, so that a name that cannot be written
    // fails the start; then starts the encoder's thread.
    bool Start(std::string& error);
    // A buffer for the next picture, recycled from one encoded before.
    std::vector<std::uint8_t> PictureBuffer();
    // One step. An empty rgb means no picture was presented: the previous
    // one stays.
    void AddStep(std::vector<std::uint8_t> rgb, int width, int height, std::vector<std::int16_t> sound);
    // Encodes what is queued and ends the file. Safe to repeat.
    void Finish();
    VideoCounts Counts() const;

    // name.mp4 -> name-0007.mp4
    static std::string NumberedPath(const std::string& path, std::uint32_t number);

private:
    struct Step {
        std::uint64_t index = 0;      // steps since the start
        std::vector<std::uint8_t> rgb;
        int width = 0;
        int height = 0;
        std::vector<std::int16_t> sound;
    };

    std::string PathOf(std::uint32_t file) const;
    void Run();
    // Encoder thread: false once the recording must stop (error set).
    bool Encode(Step& step, std::string& error);
    void Stop(const std::string& why);

    VideoRecorderSettings settings_;
    platform::VideoFile file_;        // encoder thread once started
    std::uint32_t fileNumber_ = 0;    // encoder thread once started
    std::uint64_t stepsAdded_ = 0;    // loop thread
    std::uint64_t droppedNoted_ = 0;  // loop thread: the drop count last logged
    std::uint64_t lastDropNoteStep_ = 0;

    mutable std::mutex mutex_;
    std::condition_variable wake_;    // the encoder: work or the end
    std::condition_variable room_;    // the loop (offline): room in the queue
    std::deque<Step> queue_;
    std::size_t picturesQueued_ = 0;
    std::vector<std::vector<std::uint8_t>> spare_;
    bool finishing_ = false;
    bool stopped_ = false;
    VideoCounts counts_;
    double encoderCpuMs_ = 0;
    std::thread thread_;
};
