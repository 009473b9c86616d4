#include "app/VideoRecording.h"

#include "platform/files/VideoFile.h"
#include "platform/files/WaveFile.h"
#include "sound/MusicLoader.h"
#include "sound/VoiceCapture.h"

namespace {

constexpr std::uint32_t kStepsPerMinute = 60 * 20;

VideoRecorderSettings RecorderSettings(const Options& options)
{
    VideoRecorderSettings settings;
    settings.path = options.video;
    settings.offline = options.fast;
    settings.stepsPerFile = options.videoMaxMinutes * kStepsPerMinute;
    return settings;
}

}  // namespace

VideoRecording::VideoRecording(const Options& options) : soundtrack_(!options.fast), recorder_(RecorderSettings(options))
{
}

bool VideoRecording::Start(std::string& error)
{
    return recorder_.Start(error);
}

void VideoRecording::Echo(const MusicWave& wave)
{
    if (wave.rate == VoiceCapture::kRate) {
        soundtrack_.AddEcho(wave.samples.data(), wave.samples.size());
        return;
    }
    std::vector<std::int16_t> converted;
    std::string error;
    if (platform::ResampleMono(wave.samples, wave.rate, VoiceCapture::kRate, converted, error))
        soundtrack_.AddEcho(converted.data(), converted.size());
}

void VideoRecording::Step(IDirect3DDevice9* device, bool presented)
{
    std::vector<std::uint8_t> rgb = recorder_.PictureBuffer();
    UINT width = 0, height = 0;
    if (!presented || device == nullptr || !device->ReadBackBuffer(rgb, width, height)) rgb.clear();
    soundtrack_.TakeStep(sound_);
    recorder_.AddStep(std::move(rgb), static_cast<int>(width), static_cast<int>(height), sound_);
}
