// Helpers for the sound tests: scratch folders, test wave files made on the
// spot, and a window whose procedure hands capture blocks back the way the
// application's does.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "common/NonCopyable.h"
#include "platform/system/messages.h"
#include "platform/system/mmsystem.h"

class VoiceCapture;

namespace soundtest {

// Sets an environment variable for one test (null: unsets it) and puts the
// old value back afterwards.
class ScopedEnv : NonCopyable {
public:
    ScopedEnv(const char* name, const char* value);
    ScopedEnv(const char* name, const std::string& value) : ScopedEnv(name, value.c_str()) {}
    ~ScopedEnv();

private:
    const char* name_;
    bool hadOld_ = false;
    std::string old_;
};

// A fresh folder under the build tree, removed with its contents at the end.
class ScratchDir {
public:
    explicit ScratchDir(const std::string& name);
    ~ScratchDir();
    const std::filesystem::path& Path() const { return path_; }
    std::string File(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

// Writes interleaved 16-bit PCM as a plain 44-byte-header wave file.
void WritePcmWave(const std::string& path, int rate, int channels, const std::vector<std::int16_t>& interleaved);
std::vector<unsigned char> ReadBytes(const std::string& path);
std::uint32_t Le32(const std::vector<unsigned char>& bytes, std::size_t at);
std::uint16_t Le16(const std::vector<unsigned char>& bytes, std::size_t at);
// Runs a shell command, returns its exit status and fills output with stdout.
int RunCommand(const std::string& command, std::string* output = nullptr);

// A window whose procedure does with MM_WIM_DATA what the application does:
// re-queue, copy the full buffer, hand the header back.
struct CaptureWindow {
    CaptureWindow();
    ~CaptureWindow();
    // Dispatches every posted message; returns how many capture blocks it copied.
    int Pump();

    HWND__ record;
    platform::MessageQueue queue;
    VoiceCapture* capture = nullptr;
    std::vector<int> bufferOrder;             // index of the buffer each block came in
    std::vector<std::int16_t> copied;         // every copied block, in order
    std::vector<DWORD> bytesRecorded;
    bool handBack = true;                     // false: act like a window procedure that never returns headers

    static CaptureWindow* current;
};

}  // namespace soundtest
