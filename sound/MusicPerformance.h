// The performance of the music player: it accepts downloaded waves and, when
// the echo is on, plays each one once as it arrives, converted to the output
// device's rate. Without the echo nothing ever plays, so no output device is
// opened; without a device the performance runs silent after one notice.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "common/NonCopyable.h"
#include "platform/system/AudioDevices.h"
#include "sound/MusicLoader.h"

class MusicPerformance : NonCopyable {
public:
    MusicPerformance() = default;
    virtual ~MusicPerformance();

    // Opens the output when echo is on. Never fails: no device means silence.
    bool InitAudio(bool echo);
    // Stops the output and forgets the downloaded waves. Safe to repeat.
    void CloseDown();

    // Keeps the wave for playing; with the echo on, plays it once now.
    bool Download(std::shared_ptr<const MusicWave> wave);
    void Unload(const MusicWave* wave);

    bool IsOpen() const { return open_; }
    bool IsSilent() const { return output_ == nullptr; }
    int OutputRate() const { return output_ ? output_->Rate() : 0; }
    std::size_t QueuedSamples() const { return output_ ? output_->QueuedSamples() : 0; }
    std::size_t DownloadedCount() const { return downloaded_.size(); }
    std::uint32_t EchoCount() const { return echoes_; }
    // Told of every wave the echo plays, device or not (a recording mixes
    // it into its sound). Loop thread.
    void SetEchoListener(std::function<void(const MusicWave&)> listener) { echoListener_ = std::move(listener); }

private:
    void Play(const MusicWave& wave);

    bool open_ = false;
    bool echo_ = false;
    std::unique_ptr<platform::PlaybackOutput> output_;
    std::vector<std::shared_ptr<const MusicWave>> downloaded_;
    std::uint32_t echoes_ = 0;
    std::function<void(const MusicWave&)> echoListener_;
};
