// SDL2 audio devices in queue mode. Each open device holds one reference on
// SDL's audio subsystem (SDL counts them), so capture and playback start and
// stop independently of each other and of the rest of SDL.
//
// NOTE: SDL's audio thread owns the device queues; the loop thread only calls
// SDL_DequeueAudio / SDL_QueueAudio, which lock the device internally.
#include "common/NonCopyable.h"
#include "platform/system/AudioDevices.h"

#include <SDL.h>
#include <dlfcn.h>

#include <cstdio>

#include "common/Log.h"

namespace platform {
namespace {

// alsa-lib prints its own multi-line complaints on stderr when a machine has
// no sound card, next to the one notice we give. SDL loads alsa-lib at run
// time, so the library is opened here first (it then stays loaded) and its
// error handler set to one that says nothing.
extern "C" void IgnoreAlsaError(const char*, int, const char*, int, const char*, ...) {}

void QuietAlsa()
{
    // Opening it again only counts one more reference.
    void* alsa = dlopen("libasound.so.2", RTLD_LAZY | RTLD_LOCAL);
    if (alsa == nullptr) return;
    using Handler = void (*)(const char*, int, const char*, int, const char*, ...);
    using SetHandler = int (*)(Handler);
    auto set = reinterpret_cast<SetHandler>(dlsym(alsa, "snd_lib_error_set_handler"));
    if (set != nullptr) set(&IgnoreAlsaError);
}

bool StartAudio(std::string& error)
{
    QuietAlsa();
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        error = std::string("no audio: ") + SDL_GetError();
        return false;
    }
    return true;
}

// The device's own rate, where the driver can tell it; 0 otherwise.
int NativeRate(const std::string& deviceName, int isCapture)
{
    SDL_AudioSpec format;
    SDL_zero(format);
    if (deviceName.empty()) {
        char* name = nullptr;
        if (SDL_GetDefaultAudioInfo(&name, &format, isCapture) == 0) {
            SDL_free(name);
            return format.freq;
        }
        return 0;
    }
    int count = SDL_GetNumAudioDevices(isCapture);
    for (int i = 0; i < count; ++i) {
        const char* name = SDL_GetAudioDeviceName(i, isCapture);
        if (name != nullptr && deviceName == name && SDL_GetAudioDeviceSpec(i, isCapture, &format) == 0)
            return format.freq;
    }
    return 0;
}

class SdlCaptureStream : public CaptureStream, NonCopyable {
public:
    explicit SdlCaptureStream(SDL_AudioDeviceID device) : device_(device) {}
    ~SdlCaptureStream() override
    {
        SDL_CloseAudioDevice(device_);
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }

    // SDL stops a device whose hardware has gone and never restarts it.
    bool Lost() const override { return SDL_GetAudioDeviceStatus(device_) == SDL_AUDIO_STOPPED; }

    void Drain(std::vector<std::int16_t>& samples) override
    {
        Uint32 bytes = SDL_GetQueuedAudioSize(device_);
        if (bytes < sizeof(std::int16_t)) return;
        std::size_t start = samples.size();
        samples.resize(start + bytes / sizeof(std::int16_t));
        Uint32 got = SDL_DequeueAudio(device_, samples.data() + start,
                                      static_cast<Uint32>((samples.size() - start) * sizeof(std::int16_t)));
        samples.resize(start + got / sizeof(std::int16_t));
    }

private:
    SDL_AudioDeviceID device_;
};

class SdlPlaybackOutput : public PlaybackOutput, NonCopyable {
public:
    SdlPlaybackOutput(SDL_AudioDeviceID device, int rate) : device_(device), rate_(rate) {}
    ~SdlPlaybackOutput() override
    {
        SDL_CloseAudioDevice(device_);
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }

    int Rate() const override { return rate_; }

    bool Queue(const std::int16_t* samples, std::size_t count) override
    {
        if (count == 0) return true;
        return SDL_QueueAudio(device_, samples, static_cast<Uint32>(count * sizeof(std::int16_t))) == 0;
    }

    std::size_t QueuedSamples() const override { return SDL_GetQueuedAudioSize(device_) / sizeof(std::int16_t); }

private:
    SDL_AudioDeviceID device_;
    int rate_;
};

}  // namespace

std::unique_ptr<CaptureStream> OpenCaptureStream(const std::string& deviceName, int rate, std::string& error)
{
    if (!StartAudio(error)) return nullptr;
    SDL_AudioSpec requestedFormat;
    SDL_zero(requestedFormat);
    requestedFormat.freq = rate;
    requestedFormat.format = AUDIO_S16SYS;
    requestedFormat.channels = 1;
    requestedFormat.samples = 4096;
    requestedFormat.callback = nullptr;  // queue mode
    SDL_AudioSpec obtainedFormat;
    // No changes allowed: SDL converts from whatever the device delivers.
    SDL_AudioDeviceID device =
        SDL_OpenAudioDevice(deviceName.empty() ? nullptr : deviceName.c_str(), 1, &requestedFormat, &obtainedFormat, 0);
    if (device == 0) {
        error = std::string(deviceName.empty() ? "default capture device" : "capture device \"" + deviceName + "\"") +
                " cannot be opened: " + SDL_GetError();
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return nullptr;
    }
    int native = NativeRate(deviceName, 1);
    std::string shown = deviceName.empty() ? std::string("default device") : "device \"" + deviceName + "\"";
    if (native > 0 && native != obtainedFormat.freq)
        LogLine("capture", "%s opened at %d Hz (driver %s), converting to %d Hz mono 16-bit", shown.c_str(), native,
                SDL_GetCurrentAudioDriver(), obtainedFormat.freq);
    else
        LogLine("capture", "%s opened at %d Hz mono 16-bit (driver %s)", shown.c_str(), obtainedFormat.freq,
                SDL_GetCurrentAudioDriver());
    SDL_PauseAudioDevice(device, 0);
    return std::make_unique<SdlCaptureStream>(device);
}

namespace {

class SystemCaptureBackend : public CaptureBackend {
public:
    std::unique_ptr<CaptureStream> Open(const std::string& deviceName, int rate, std::string& error) override
    {
        return OpenCaptureStream(deviceName, rate, error);
    }
    std::vector<std::string> DeviceNames() override
    {
        AudioDeviceNames names;
        std::string error;
        if (!ListAudioDevices(names, error)) return {};
        return names.capture;
    }
};

}  // namespace

std::unique_ptr<CaptureBackend> MakeSystemCaptureBackend() { return std::make_unique<SystemCaptureBackend>(); }

std::unique_ptr<PlaybackOutput> OpenPlaybackOutput(std::string& error)
{
    if (!StartAudio(error)) return nullptr;
    int native = NativeRate("", 0);
    SDL_AudioSpec requestedFormat;
    SDL_zero(requestedFormat);
    requestedFormat.freq = native > 0 ? native : 48000;
    requestedFormat.format = AUDIO_S16SYS;
    requestedFormat.channels = 1;
    requestedFormat.samples = 1024;
    requestedFormat.callback = nullptr;
    SDL_AudioSpec obtainedFormat;
    SDL_AudioDeviceID device =
        SDL_OpenAudioDevice(nullptr, 0, &requestedFormat, &obtainedFormat, SDL_AUDIO_ALLOW_FREQUENCY_CHANGE);
    if (device == 0) {
        error = std::string("default playback device cannot be opened: ") + SDL_GetError();
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return nullptr;
    }
    LogLine("music", "playback at %d Hz (driver %s)", obtainedFormat.freq, SDL_GetCurrentAudioDriver());
    SDL_PauseAudioDevice(device, 0);
    return std::make_unique<SdlPlaybackOutput>(device, obtainedFormat.freq);
}

bool ListAudioDevices(AudioDeviceNames& names, std::string& error)
{
    if (!StartAudio(error)) return false;
    const char* driver = SDL_GetCurrentAudioDriver();
    names.driver = driver != nullptr ? driver : "";
    for (int isCapture = 1; isCapture >= 0; --isCapture) {
        auto& list = isCapture ? names.capture : names.playback;
        list.clear();
        int count = SDL_GetNumAudioDevices(isCapture);
        for (int i = 0; i < count; ++i) {
            const char* name = SDL_GetAudioDeviceName(i, isCapture);
            if (name != nullptr) list.emplace_back(name);
        }
    }
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    return true;
}

int PrintAudioDevices()
{
    AudioDeviceNames names;
    std::string error;
    if (!ListAudioDevices(names, error)) {
        LogLine("audio", "%s", error.c_str());
        return 1;
    }
    std::printf("audio driver: %s\n", names.driver.c_str());
    std::printf("capture devices (--input-device NAME):\n");
    if (names.capture.empty()) std::printf("  (none)\n");
    for (const auto& name : names.capture) std::printf("  %s\n", name.c_str());
    std::printf("playback devices:\n");
    if (names.playback.empty()) std::printf("  (none)\n");
    for (const auto& name : names.playback) std::printf("  %s\n", name.c_str());
    std::fflush(stdout);
    return 0;
}

}  // namespace platform
