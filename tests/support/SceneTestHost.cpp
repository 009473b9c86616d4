// The scene tests' stand-in application; see SceneTestHost.h.
#include "support/SceneTestHost.h"

#include <filesystem>
#include <vector>

#include "platform/PngFile.h"

SceneTestHost::SceneTestHost()
{
    window.proc = &SceneTestHost::Record;
    window.userData = reinterpret_cast<LPARAM>(this);
}

SceneTestHost::~SceneTestHost() = default;

bool SceneTestHost::Start()
{
    renderer.SetDirect3DFactory(&RecordingDirect3DCreate9);
    return renderer.CreateDevice(&window, 640, 480, false);
}

std::int16_t SceneTestHost::GetAsyncKeyState(int virtualKey)
{
    return heldKeys.count(virtualKey) != 0 ? static_cast<std::int16_t>(0x8000) : 0;
}

IDirect3DDevice9* SceneTestHost::Device() { return renderer.Device(); }

RecordingDevice* SceneTestHost::Recorder() { return static_cast<RecordingDevice*>(renderer.Device()); }

HDC SceneTestHost::BackBufferDC()
{
    HDC dc = nullptr;
    if (renderer.BackBuffer() != nullptr) renderer.BackBuffer()->GetDC(&dc);
    return dc;
}

void SceneTestHost::GiveBackDC(HDC dc)
{
    if (renderer.BackBuffer() != nullptr) renderer.BackBuffer()->ReleaseDC(dc);
}

int SceneTestHost::CloseRequests() const
{
    int count = 0;
    for (UINT m : messages)
        if (m == WM_CLOSE) ++count;
    return count;
}

LRESULT SceneTestHost::Record(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    (void)wParam;
    (void)lParam;
    auto* host = reinterpret_cast<SceneTestHost*>(hwnd->userData);
    host->messages.push_back(msg);
    // The real window is destroyed by WM_CLOSE and its teardown stops the run.
    if (msg == WM_CLOSE) host->running = false;
    return 0;
}

std::string MakeDataFolder(const std::string& name, const std::vector<std::string>& pictures)
{
    namespace fs = std::filesystem;
    fs::path folder = fs::path(SOLVANE_BINARY_DIR) / "test-data" / name;
    fs::remove_all(folder);
    fs::create_directories(folder);
    for (const std::string& picture : pictures) {
        // A 256x256 picture: red left half, green right half, opaque.
        const unsigned w = 256, h = 256;
        std::vector<std::uint8_t> rgba(w * h * 4);
        for (unsigned y = 0; y < h; ++y)
            for (unsigned x = 0; x < w; ++x) {
                std::uint8_t* p = &rgba[(y * w + x) * 4];
                p[0] = x < w / 2 ? 255 : 0;
                p[1] = x < w / 2 ? 0 : 255;
                p[2] = 0;
                p[3] = 255;
            }
        platform::WritePng((folder / picture).string(), w, h, platform::PixelLayout::Rgba, rgba.data());
    }
    return folder.string();
}
