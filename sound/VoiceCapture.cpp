// The microphone and its two alternating buffers, over the platform's
// capture stream or a voice file.
#include "sound/VoiceCapture.h"

#include <algorithm>
#include <cmath>
#include <chrono>
#include <cstring>

#include "common/Level.h"
#include "common/Log.h"
#include "platform/files/WaveFile.h"

namespace {

constexpr std::uint32_t kBlockMs = 50;
// At most one second of sound waits for a free buffer; older samples go first.
constexpr std::size_t kMaxPendingSamples = VoiceCapture::kRate;
constexpr std::uint32_t kMaxLateBlocks = 20;

}  // namespace

VoiceCapture::VoiceCapture()
{
    format_.wFormatTag = WAVE_FORMAT_PCM;
    format_.nChannels = 1;
    format_.nSamplesPerSec = kRate;
    format_.nAvgBytesPerSec = kRate * 2;
    format_.nBlockAlign = 2;
    format_.wBitsPerSample = 16;
    format_.cbSize = 0;
    for (int k = 0; k < 2; ++k) {
        buffers_[k] = std::make_unique<std::int16_t[]>(kBlockSamples);
        headers_[k] = WAVEHDR{};
        headers_[k].lpData = reinterpret_cast<char*>(buffers_[k].get());
        headers_[k].dwBufferLength = kBufferBytes;
        headers_[k].dwLoops = 1;
    }
}

VoiceCapture::~VoiceCapture() { Close(); }

void VoiceCapture::Configure(const VoiceCaptureSettings& settings) { settings_ = settings; }

void VoiceCapture::UseStream(std::unique_ptr<platform::CaptureStream> stream, std::string name)
{
    injected_ = std::move(stream);
    injectedName_ = std::move(name);
}

void VoiceCapture::UseBackend(std::unique_ptr<platform::CaptureBackend> backend) { backend_ = std::move(backend); }

const char* VoiceCapture::StateName(MicrophoneState state)
{
    switch (state) {
    case MicrophoneState::Recording: return "recording";
    case MicrophoneState::Lost: return "lost";
    case MicrophoneState::None: return "none";
    case MicrophoneState::File: return "file";
    }
    return "none";
}

bool VoiceCapture::TryOpenDevice(bool atStart)
{
    Device& d = device_;
    lastTryMs_ = Now();
    if (backend_ == nullptr) backend_ = platform::MakeSystemCaptureBackend();
    const std::string& name = settings_.inputDevice;
    const std::string shown = name.empty() ? "the default capture device" : "capture device \"" + name + "\"";
    std::string error;
    d.stream = backend_->Open(name, kRate, error);
    if (d.stream == nullptr && atStart && !name.empty()) {
        // A mistyped name is the likely cause: show the names there are.
        const std::vector<std::string> names = backend_->DeviceNames();
        if (std::find(names.begin(), names.end(), name) == names.end()) {
            std::string list;
            for (const std::string& n : names) list += (list.empty() ? "\"" : ", \"") + n + "\"";
            error = shown + " does not exist (capture devices: " + (list.empty() ? std::string("none") : list) + ")";
        }
    }
    if (d.stream != nullptr) {
        state_ = MicrophoneState::Recording;
        if (!atStart) LogLine("capture", "%s is back; recording again", shown.c_str());
        return true;
    }
    if (atStart) {
        state_ = MicrophoneState::None;
        LogWarning("capture", "%s; running without sound input, trying again every %u s", error.c_str(),
                   kRetryMs / 1000);
    }
    return false;
}

// Loop thread, every pass: a device that went is closed and said so once; a
// missing one is tried again every kRetryMs.
void VoiceCapture::WatchDevice()
{
    Device& d = device_;
    if (d.stream != nullptr && d.stream->Lost()) {
        d.stream.reset();
        d.pending.clear();
        state_ = MicrophoneState::Lost;
        lastTryMs_ = Now();
        LogWarning("capture", "%s was lost; going on silent, trying again every %u s",
                   settings_.inputDevice.empty() ? "the default capture device"
                                                 : ("capture device \"" + settings_.inputDevice + "\"").c_str(),
                   kRetryMs / 1000);
        return;
    }
    if (d.stream == nullptr && Now() - lastTryMs_ >= kRetryMs) TryOpenDevice(false);
}

void VoiceCapture::MeasureLevel(const std::int16_t* block)
{
    int peak = 0;
    double sum = 0;
    for (int i = 0; i < kBlockSamples; ++i) {
        const int v = block[i];
        peak = std::max(peak, v < 0 ? -v : v);
        sum += static_cast<double>(v) * v;
    }
    peakDbfs_ = level::SampleToDbfs(peak);
    rmsDbfs_ = level::SampleToDbfs(std::sqrt(sum / kBlockSamples));
}

std::uint32_t VoiceCapture::Now() const
{
    if (settings_.clock) return settings_.clock();
    using namespace std::chrono;
    return static_cast<std::uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void VoiceCapture::Open(HWND hwnd)
{
    if (device_.open || buffers_[0] == nullptr) return;
    Device& d = device_;
    d.window = hwnd;
    openFailure_.clear();

    if (!settings_.voiceFile.empty()) {
        platform::MonoWave wave;
        std::string error;
        if (platform::LoadMonoWave(settings_.voiceFile, kRate, wave, error)) {
            d.file = std::move(wave.samples);
            d.input = Input::File;
            state_ = MicrophoneState::File;
            deviceName_ = settings_.voiceFile;
            LogLine("capture", "voice file \"%s\" (%.2f s) as the microphone at %d Hz mono 16-bit, %s",
                    settings_.voiceFile.c_str(), static_cast<double>(d.file.size()) / kRate, kRate,
                    settings_.fast ? "one block per scene step" : "one block per 50 ms");
        } else {
            // Not logged here: an unreadable voice file fails the start, and
            // the caller's one line says why.
            openFailure_ = "voice file " + error;
        }
    } else if (injected_ != nullptr) {
        d.stream = std::move(injected_);
        d.input = Input::Stream;
        fromDevice_ = false;
        state_ = MicrophoneState::Recording;
        deviceName_ = injectedName_;
    } else {
        // Open even without a device: the buffers are queued and the device
        // is tried again until it is there.
        d.input = Input::Stream;
        fromDevice_ = true;
        deviceName_ = settings_.inputDevice.empty() ? "default" : settings_.inputDevice;
        TryOpenDevice(true);
    }
    if (d.input == Input::None) return;  // like a failed waveInOpen: every later call fails

    d.open = true;
    QueueBuffers();
    d.started = true;
    d.startMs = Now();
}

bool VoiceCapture::PrepareHeader(int k)
{
    if (!device_.open) return false;
    headers_[k].dwFlags |= WHDR_PREPARED;
    return true;
}

bool VoiceCapture::AddBuffer(int k)
{
    WAVEHDR& h = headers_[k];
    if (!device_.open || buffers_[k] == nullptr) return false;
    if ((h.dwFlags & WHDR_PREPARED) == 0 || (h.dwFlags & WHDR_INQUEUE) != 0) return false;
    h.dwFlags = (h.dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
    device_.queue.push_back(k);
    return true;
}

void VoiceCapture::QueueBuffers()
{
    for (int k = 0; k < 2; ++k) {
        PrepareHeader(k);
        AddBuffer(k);
    }
}

void VoiceCapture::UnprepareBuffer(WAVEHDR* header)
{
    int k = header == &headers_[0] ? 0 : header == &headers_[1] ? 1 : -1;
    if (k < 0 || !device_.open) return;
    // The window procedure has copied this block: the buffer may be filled again.
    device_.awaitingHandBack[k] = false;
    if ((headers_[k].dwFlags & WHDR_INQUEUE) != 0) return;  // refused, as waveIn does for a queued header
    headers_[k].dwFlags &= ~WHDR_PREPARED;
}

bool VoiceCapture::NextBlock(std::int16_t* block)
{
    Device& d = device_;
    if (d.input == Input::Stream) {
        if (d.stream == nullptr || d.pending.size() < static_cast<std::size_t>(kBlockSamples)) return false;
        std::copy_n(d.pending.begin(), kBlockSamples, block);
        d.pending.erase(d.pending.begin(), d.pending.begin() + kBlockSamples);
        return true;
    }
    if (d.input != Input::File) return false;
    if (!settings_.fast) {
        std::uint32_t due = (Now() - d.startMs) / kBlockMs;
        if (due > d.fileBlocks + kMaxLateBlocks) {
            std::uint32_t skipped = due - kMaxLateBlocks - d.fileBlocks;
            d.fileBlocks += skipped;
            d.filePosition += static_cast<std::size_t>(skipped) * kBlockSamples;
        }
        if (d.fileBlocks >= due) return false;
    }
    std::size_t start = std::min(d.filePosition, d.file.size());
    std::size_t count = std::min<std::size_t>(kBlockSamples, d.file.size() - start);
    std::copy_n(d.file.begin() + static_cast<std::ptrdiff_t>(start), count, block);
    std::fill(block + count, block + kBlockSamples, std::int16_t{0});  // past the end the input is silent
    d.filePosition = start + kBlockSamples;
    ++d.fileBlocks;
    return true;
}

bool VoiceCapture::BufferFree() const
{
    const Device& d = device_;
    return d.open && d.started && !d.queue.empty() && !d.awaitingHandBack[0] && !d.awaitingHandBack[1];
}

bool VoiceCapture::BlockReady() const
{
    const Device& d = device_;
    if (d.input == Input::Stream) return d.pending.size() >= static_cast<std::size_t>(kBlockSamples);
    // A fast run polls once per step anyway and never sleeps.
    if (d.input == Input::File && !settings_.fast) return (Now() - d.startMs) / kBlockMs > d.fileBlocks;
    return false;
}

void VoiceCapture::CollectWaitDescriptors(std::vector<int>& fds)
{
    wake_.Raise(BufferFree() && BlockReady());
    if (wake_.Descriptor() >= 0) fds.push_back(wake_.Descriptor());
}

void VoiceCapture::Deliver()
{
    Device& d = device_;
    // NOTE: one block at a time. Re-adding a finished header clears its done
    // flag, so a second block posted before the first is handled would reach
    // the window procedure without WHDR_DONE and be ignored.
    if (!BufferFree()) return;
    int k = d.queue.front();
    if (!NextBlock(buffers_[k].get())) return;
    d.queue.erase(d.queue.begin());
    WAVEHDR& h = headers_[k];
    h.dwBytesRecorded = kBufferBytes;
    h.dwFlags = (h.dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    d.awaitingHandBack[k] = true;
    MeasureLevel(buffers_[k].get());
    PostMessageA(d.window, MM_WIM_DATA, 0, reinterpret_cast<LPARAM>(&h));
}

void VoiceCapture::Poll()
{
    Device& d = device_;
    if (!d.open || !d.started) return;
    if (d.input == Input::Stream && fromDevice_) WatchDevice();
    if (d.input == Input::Stream && d.stream != nullptr) {
        d.stream->Drain(d.pending);
        if (d.pending.size() > kMaxPendingSamples)
            d.pending.erase(d.pending.begin(),
                            d.pending.begin() + static_cast<std::ptrdiff_t>(d.pending.size() - kMaxPendingSamples));
    }
    Deliver();
}

void VoiceCapture::Close()
{
    Device& d = device_;
    // Stop and reset: queued buffers come back as done, but the loop has
    // ended, so no message announces them.
    d.started = false;
    for (int k : d.queue) {
        headers_[k].dwFlags = (headers_[k].dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    }
    d.queue.clear();
    for (int k = 0; k < 2; ++k) {
        UnprepareBuffer(&headers_[k]);
        buffers_[k].reset();
        headers_[k].lpData = nullptr;
    }
    d.stream.reset();  // closes the platform device
    d.open = false;
    d.input = Input::None;
    d.pending.clear();
    d.file.clear();
    wake_.Raise(false);
}
