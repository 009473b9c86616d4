// The sound devices behind the installation: a capture stream that stands in
// for the microphone, a playback output for the music player, and the list
// of devices that --list-devices prints.
//
// Both devices run in SDL's queue mode: SDL's audio thread fills (or empties)
// a queue of its own, and the loop thread moves samples in and out of it.
// Nothing of ours runs on the audio thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// Mono signed 16-bit samples at the rate asked for when it was opened.
class CaptureStream {
public:
    virtual ~CaptureStream() = default;
    // Appends every sample that has arrived since the previous call.
    virtual void Drain(std::vector<std::int16_t>& samples) = 0;
    // True once the device has gone (unplugged, its driver stopped): no
    // sample will come any more, and the stream should be closed.
    virtual bool Lost() const { return false; }
};

// Opens the named capture device (empty: the default one) as mono 16-bit at
// rate; the platform converts from the device's own format. Says on stderr
// which device and rate were obtained. Null (with error set) on failure.
std::unique_ptr<CaptureStream> OpenCaptureStream(const std::string& deviceName, int rate, std::string& error);

// Where capture streams come from: the sound system's devices, or in tests a
// backend whose device can vanish and come back. Loop thread only.
class CaptureBackend {
public:
    virtual ~CaptureBackend() = default;
    // As OpenCaptureStream.
    virtual std::unique_ptr<CaptureStream> Open(const std::string& deviceName, int rate, std::string& error) = 0;
    // The capture devices there are now (empty when none, or no audio).
    virtual std::vector<std::string> DeviceNames() = 0;
};

// The backend over SDL's capture devices.
std::unique_ptr<CaptureBackend> MakeSystemCaptureBackend();

// Mono signed 16-bit playback at the device's preferred rate.
class PlaybackOutput {
public:
    virtual ~PlaybackOutput() = default;
    virtual int Rate() const = 0;
    virtual bool Queue(const std::int16_t* samples, std::size_t count) = 0;
    virtual std::size_t QueuedSamples() const = 0;
};

// Opens the default playback device; null (with error set) on failure.
std::unique_ptr<PlaybackOutput> OpenPlaybackOutput(std::string& error);

struct AudioDeviceNames {
    std::vector<std::string> capture;
    std::vector<std::string> playback;
    std::string driver;  // the audio driver in use, empty when none started
};

// False (with error set) when the audio subsystem cannot start.
bool ListAudioDevices(AudioDeviceNames& names, std::string& error);

// Prints the capture and playback devices to stdout, for --list-devices.
// Returns the process exit status (0, or 1 when audio cannot start).
int PrintAudioDevices();

}  // namespace platform
