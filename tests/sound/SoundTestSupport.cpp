#include "SoundTestSupport.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <system_error>

#include <sys/wait.h>
#include <unistd.h>

#include "sound/VoiceCapture.h"

namespace soundtest {

ScopedEnv::ScopedEnv(const char* name, const char* value) : name_(name)
{
    const char* old = std::getenv(name);
    hadOld_ = old != nullptr;
    if (hadOld_) old_ = old;
    if (value != nullptr) setenv(name, value, 1);
    else unsetenv(name);
}

ScopedEnv::~ScopedEnv()
{
    if (hadOld_) setenv(name_, old_.c_str(), 1);
    else unsetenv(name_);
}

static int counter = 0;

ScratchDir::ScratchDir(const std::string& name)
{
    // Tests run in parallel processes: every scratch folder has its own name.
    path_ = std::filesystem::path(SOLVANE_BINARY_DIR) / "test-scratch" /
            (name + "-" + std::to_string(getpid()) + "-" + std::to_string(++counter));
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
    std::filesystem::create_directories(path_);
}

ScratchDir::~ScratchDir()
{
    std::error_code ignored;
    // A test may have taken write permission away; give it back to clean up.
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add,
                                 ignored);
    for (auto& entry : std::filesystem::recursive_directory_iterator(path_, ignored))
        std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path_, ignored);
}

static void PutLe(std::ofstream& out, std::uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i) out.put(static_cast<char>((value >> (8 * i)) & 0xFF));
}

void WritePcmWave(const std::string& path, int rate, int channels, const std::vector<std::int16_t>& interleaved)
{
    std::ofstream out(path, std::ios::binary);
    std::uint32_t data = static_cast<std::uint32_t>(interleaved.size() * 2);
    out.write("RIFF", 4);
    PutLe(out, 36 + data, 4);
    out.write("WAVEfmt ", 8);
    PutLe(out, 16, 4);
    PutLe(out, 1, 2);
    PutLe(out, static_cast<std::uint32_t>(channels), 2);
    PutLe(out, static_cast<std::uint32_t>(rate), 4);
    PutLe(out, static_cast<std::uint32_t>(rate * channels * 2), 4);
    PutLe(out, static_cast<std::uint32_t>(channels * 2), 2);
    PutLe(out, 16, 2);
    out.write("data", 4);
    PutLe(out, data, 4);
    for (std::int16_t s : interleaved) PutLe(out, static_cast<std::uint16_t>(s), 2);
}

std::vector<unsigned char> ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::uint32_t Le32(const std::vector<unsigned char>& b, std::size_t at)
{
    return static_cast<std::uint32_t>(b.at(at)) | static_cast<std::uint32_t>(b.at(at + 1)) << 8 |
           static_cast<std::uint32_t>(b.at(at + 2)) << 16 | static_cast<std::uint32_t>(b.at(at + 3)) << 24;
}

std::uint16_t Le16(const std::vector<unsigned char>& b, std::size_t at)
{
    return static_cast<std::uint16_t>(b.at(at) | b.at(at + 1) << 8);
}

int RunCommand(const std::string& command, std::string* output)
{
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return -1;
    std::array<char, 4096> chunk;
    std::size_t n;
    while ((n = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0)
        if (output != nullptr) output->append(chunk.data(), n);
    int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

CaptureWindow* CaptureWindow::current = nullptr;

static LRESULT CaptureWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    CaptureWindow* w = CaptureWindow::current;
    if (msg == MM_WIM_DATA && w != nullptr && w->capture != nullptr) {
        auto* header = reinterpret_cast<WAVEHDR*>(lParam);
        if ((header->dwFlags & WHDR_DONE) && (header->dwFlags & WHDR_PREPARED)) {
            w->bufferOrder.push_back(header == &w->capture->Header(0) ? 0 : header == &w->capture->Header(1) ? 1 : -1);
            w->bytesRecorded.push_back(header->dwBytesRecorded);
            if (w->handBack) w->capture->QueueBuffers();
            const auto* samples = reinterpret_cast<const std::int16_t*>(header->lpData);
            w->copied.insert(w->copied.end(), samples, samples + header->dwBufferLength / 2);
            if (w->handBack) w->capture->UnprepareBuffer(header);
        }
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

CaptureWindow::CaptureWindow()
{
    record.proc = CaptureWindowProc;
    record.queue = &queue;
    current = this;
}

CaptureWindow::~CaptureWindow() { current = nullptr; }

int CaptureWindow::Pump()
{
    int before = static_cast<int>(bufferOrder.size());
    MSG msg;
    while (!queue.Empty() && queue.Get(msg)) SendMessageA(msg.hwnd, msg.message, msg.wParam, msg.lParam);
    return static_cast<int>(bufferOrder.size()) - before;
}

}  // namespace soundtest
