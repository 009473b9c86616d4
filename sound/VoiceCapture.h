// The microphone: keeps a sound input recording for the whole run and hands
// every 50 ms block (8000 samples at 160 000 Hz, mono 16-bit) to the main
// window as MM_WIM_DATA, with lParam the finished buffer's WAVEHDR.
//
// Two capture buffers alternate. The waveIn hand-over is kept: a delivered
// buffer goes back into the device queue when the window procedure calls
// QueueBuffers, and the next block is not delivered until the window
// procedure has handed the last one back with UnprepareBuffer, so a block is
// never overwritten before it has been copied. One block per Poll at most;
// the loop polls far more often than every 50 ms.
//
// The input is a capture device (the default one, or --input-device NAME),
// or a wave file (--voice FILE) paced by the clock: one block per 50 ms, or
// with --fast one block per loop pass. After the file's end the input is
// silent. Without a device the installation runs on without sound input and
// tries to open it again every 2 s; a device that disappears is the same:
// one line when it goes, one when it is back, and recording goes on.
//
// Poll() runs on the loop thread every pass; the device's own audio thread
// only fills the platform's queue.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/Level.h"
#include "common/NonCopyable.h"
#include "platform/system/AudioDevices.h"
#include "platform/system/WakeSignal.h"
#include "platform/system/messages.h"
#include "platform/system/mmsystem.h"

struct VoiceCaptureSettings {
    std::string voiceFile;    // non-empty: this wave file is the microphone
    std::string inputDevice;  // non-empty: capture from this device
    bool fast = false;        // a voice file gives one block per Poll
    // Millisecond clock for pacing a voice file; empty: a steady clock.
    std::function<std::uint32_t()> clock;
};

class VoiceCapture : public platform::EventSource, NonCopyable {
public:
    static constexpr int kRate = 160000;
    static constexpr int kBlockSamples = 8000;
    static constexpr DWORD kBufferBytes = 16000;

    VoiceCapture();
    ~VoiceCapture() override;

    // Chooses the input; call before Open.
    void Configure(const VoiceCaptureSettings& settings);
    // Uses this stream instead of opening a device (tests, --demo).
    void UseStream(std::unique_ptr<platform::CaptureStream> stream, std::string name = "built-in stream");
    // Opens devices through this backend instead of the sound system's
    // (tests: a device that vanishes and comes back).
    void UseBackend(std::unique_ptr<platform::CaptureBackend> backend);

    // What the health report shows.
    enum class MicrophoneState { Recording, Lost, None, File };
    MicrophoneState State() const { return state_; }
    static const char* StateName(MicrophoneState state);
    // The device (or file) recorded from, or asked for while none is open.
    const std::string& DeviceName() const { return deviceName_; }
    // Largest sample and RMS of the latest block handed over, in dB below
    // full scale (level::kSilenceDbfs for a silent block or none yet).
    double LastPeakDbfs() const { return peakDbfs_; }
    double LastRmsDbfs() const { return rmsDbfs_; }
    // How often a missing device is tried again.
    static constexpr std::uint32_t kRetryMs = 2000;

    // Opens the input, queues both buffers and starts recording. Nothing is
    // returned: without an input the capture stays silent (see OpenFailure).
    void Open(HWND hwnd);
    // Prepares and adds both headers, header 0 first; a header still in the
    // queue is refused, as waveIn does.
    void QueueBuffers();
    // The window procedure is done with this header's block. Refused (and
    // ignored) while the header is queued again.
    void UnprepareBuffer(WAVEHDR* header);
    // Stops, returns queued buffers as done (no messages), frees the buffers.
    void Close();

    // Moves what the input delivered since the last pass into the buffers and
    // posts MM_WIM_DATA for each finished one.
    void Poll() override;
    // While a block is ready and a buffer is free, the loop must not sleep:
    // it polls about once per scene step when idle, but the input delivers a
    // block every 50 ms and only one block is handed over per pass.
    void CollectWaitDescriptors(std::vector<int>& fds) override;

    bool IsOpen() const { return device_.open; }
    // Non-empty when the voice file named by --voice could not be read.
    const std::string& OpenFailure() const { return openFailure_; }
    const WAVEHDR& Header(int k) const { return headers_[k]; }
    const std::int16_t* Buffer(int k) const { return buffers_[k].get(); }
    const WAVEFORMATEX& Format() const { return format_; }
    // Samples waiting for a free buffer (never more than one second).
    std::size_t PendingSamples() const { return device_.pending.size(); }

private:
    enum class Input { None, Stream, File };

    // The stand-in for the open waveIn device.
    struct Device {
        bool open = false;
        bool started = false;
        Input input = Input::None;
        std::unique_ptr<platform::CaptureStream> stream;
        std::vector<std::int16_t> pending;  // device samples not yet in a buffer
        std::vector<std::int16_t> file;     // the whole voice file at 160 000 Hz
        std::size_t filePosition = 0;
        std::uint32_t startMs = 0;
        std::uint32_t fileBlocks = 0;       // blocks taken from the file so far
        std::vector<int> queue;             // header indices in the order they fill
        bool awaitingHandBack[2] = {false, false};
        HWND window = nullptr;
    };

    bool PrepareHeader(int k);
    bool AddBuffer(int k);
    std::uint32_t Now() const;
    // True when the input has one more block ready; fills block.
    bool NextBlock(std::int16_t* block);
    bool BlockReady() const;
    bool BufferFree() const;
    void Deliver();
    // Opens the device asked for through the backend; says why not once
    // (at the start) or says that it is back (later).
    bool TryOpenDevice(bool atStart);
    void WatchDevice();
    void MeasureLevel(const std::int16_t* block);

    std::unique_ptr<std::int16_t[]> buffers_[2];
    Device device_;
    WAVEHDR headers_[2];
    WAVEFORMATEX format_;

    VoiceCaptureSettings settings_;
    std::unique_ptr<platform::CaptureStream> injected_;
    std::string injectedName_;
    std::unique_ptr<platform::CaptureBackend> backend_;
    bool fromDevice_ = false;  // the stream comes from backend_ and may go and come back
    std::uint32_t lastTryMs_ = 0;
    MicrophoneState state_ = MicrophoneState::None;
    std::string deviceName_;
    double peakDbfs_ = level::kSilenceDbfs;
    double rmsDbfs_ = level::kSilenceDbfs;
    std::string openFailure_;
    platform::WakeSignal wake_;
};
