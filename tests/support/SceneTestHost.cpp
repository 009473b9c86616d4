// The scene tests' stand-in application; see SceneTestHost.h.
#include "support/SceneTestHost.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "crystal/World.h"
#include "platform/gl/GlDevice.h"
#include "platform/files/PngFile.h"
#include "scene/EventSequencer.h"
#include "scenery/IncomingImages.h"

SceneTestHost::SceneTestHost()
{
    window.proc = &SceneTestHost::Record;
    window.userData = reinterpret_cast<LPARAM>(this);
}

SceneTestHost::~SceneTestHost()
{
    // The device goes before the window it draws into, and the window before the video system.
    renderer.ReleaseAll();
    screen.reset();
    if (videoStarted) platform::StopVideo();
}

bool SceneTestHost::StartDrawing(std::string& error)
{
    platform::WindowMode mode = platform::WindowMode::Headless;
    if (!platform::StartVideo(mode, error)) return false;
    videoStarted = true;
    platform::WindowSettings settings;
    settings.mode = platform::WindowMode::Headless;
    screen = platform::Window::Create(settings, queue, keyboard, error);
    if (!screen) return false;
    handle = screen->Handle();
    handle->proc = &SceneTestHost::Record;
    handle->userData = reinterpret_cast<LPARAM>(this);
    renderer.SetDirect3DFactory(&GlDirect3DCreate9);
    if (!renderer.CreateDevice(handle, 640, 480, false)) {
        error = "cannot create the OpenGL device";
        return false;
    }
    return true;
}

std::vector<std::uint8_t> SceneTestHost::Frame()
{
    std::vector<std::uint8_t> rgb;
    UINT w = 0, h = 0;
    if (renderer.Device() == nullptr || !renderer.Device()->ReadBackBuffer(rgb, w, h) || w != 640 || h != 480)
        rgb.clear();
    return rgb;
}

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

LRESULT SceneTestHost::Record(HWND hwnd, UINT msg, WPARAM, LPARAM)
{
    auto* host = reinterpret_cast<SceneTestHost*>(hwnd->userData);
    host->messages.push_back(msg);
    // The real window is destroyed by WM_CLOSE and its teardown stops the run.
    if (msg == WM_CLOSE) host->running = false;
    return 0;
}

std::string MakeDataFolder(const std::string& name, const std::vector<std::string>& pictures)
{
    namespace fs = std::filesystem;
    // NOTE: ctest runs the tests of one fixture side by side, each in its own
    // process; a folder per test keeps one from clearing another's files.
    std::string unique = name;
    if (const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info())
        unique += std::string("-") + test->name();
    for (char& c : unique)
        if (c == '/') c = '_';
    fs::path folder = fs::path(SOLVANE_BINARY_DIR) / "test-data" / unique;
    fs::remove_all(folder);
    fs::create_directories(folder);
    for (const std::string& picture : pictures) {
        // Other data files (the logo mesh, the .bmp pictures) are the installation's own.
        if (fs::path(picture).extension() != ".png") {
            fs::copy_file(fs::path(SOLVANE_SOURCE_DIR) / "data" / picture, folder / picture);
            continue;
        }
        // Red left half, green right half, opaque; 256x256, or 256x64 for
        // the copyright picture, the sizes the overlays are laid out for.
        const unsigned w = 256, h = picture == "CopyRight.png" ? 64 : 256;
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

std::vector<std::string> EveryDataFile()
{
    return {"light1.bmp", "light2.bmp", "spheremap.bmp", "title.png", "CopyRight.png", "logo.x"};
}

::testing::AssertionResult SetUpWholeScene(SceneTestHost& host, const std::string& name, World& world,
                                           IncomingImages& images, EventSequencer& sequencer)
{
    host.options.dataDir = MakeDataFolder(name, EveryDataFile());
    if (!world.Init(&host, 640, 480)) return ::testing::AssertionFailure() << "world: " << world.LastError();
    host.world = &world;
    HDC dc = host.BackBufferDC();
    const bool created = images.Create(dc, &host.Renderer(), 640, 480);
    host.GiveBackDC(dc);
    if (!created) return ::testing::AssertionFailure() << "the incoming pictures were not created";
    host.images = &images;
    if (!sequencer.Create(&host)) return ::testing::AssertionFailure() << "the sequencer was not created";
    return ::testing::AssertionSuccess();
}
