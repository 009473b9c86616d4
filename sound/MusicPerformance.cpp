// The performance: downloaded waves and the echo of each stored voice.
#include "sound/MusicPerformance.h"

#include <algorithm>

#include "common/Log.h"
#include "platform/files/WaveFile.h"

MusicPerformance::~MusicPerformance() { CloseDown(); }

bool MusicPerformance::InitAudio(bool echo)
{
    CloseDown();
    open_ = true;
    echo_ = echo;
    if (!echo_) return true;
    std::string error;
    output_ = platform::OpenPlaybackOutput(error);
    if (output_ == nullptr) LogLine("music", "%s; the stored voice stays silent", error.c_str());
    return true;
}

void MusicPerformance::CloseDown()
{
    output_.reset();
    downloaded_.clear();
    open_ = false;
}

bool MusicPerformance::Download(std::shared_ptr<const MusicWave> wave)
{
    if (!open_ || wave == nullptr) return false;
    downloaded_.push_back(wave);
    if (echo_) {
        if (echoListener_) echoListener_(*wave);
        Play(*wave);
    }
    return true;
}

void MusicPerformance::Unload(const MusicWave* wave)
{
    auto it = std::find_if(downloaded_.begin(), downloaded_.end(),
                           [wave](const std::shared_ptr<const MusicWave>& held) { return held.get() == wave; });
    if (it != downloaded_.end()) downloaded_.erase(it);
}

void MusicPerformance::Play(const MusicWave& wave)
{
    if (output_ == nullptr || wave.samples.empty()) return;
    std::vector<std::int16_t> converted;
    std::string error;
    if (!platform::ResampleMono(wave.samples, wave.rate, output_->Rate(), converted, error)) {
        LogLine("music", "cannot play \"%s\": %s", wave.path.c_str(), error.c_str());
        return;
    }
    if (!output_->Queue(converted.data(), converted.size())) {
        LogLine("music", "cannot play \"%s\": the output refused it", wave.path.c_str());
        return;
    }
    ++echoes_;
}
