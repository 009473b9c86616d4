#include "app/MainWindow.h"

#include <algorithm>

#include "platform/system/Wait.h"

namespace {

// Window events (keys, close) are checked at least this often while idle.
constexpr int kEventPollMilliseconds = 10;

}  // namespace

MainWindow::MainWindow() = default;

MainWindow::~MainWindow()
{
    if (hwnd_ != nullptr) SetWindowLongA(hwnd_, GWL_USERDATA, 0);
    if (window_) {
        window_.reset();
        platform::StopVideo();
    }
}

bool MainWindow::CreateMainWindow(HINSTANCE instance, int, const char*, const char* title,
                                  int fullScreen, int width, int height)
{
    instance_ = instance;
    platform::WindowSettings settings;
    settings.title = title;
    settings.width = width;
    settings.height = height;
    settings.display = display_;
    if (headless_) settings.mode = platform::WindowMode::Headless;
    else if (fullScreen == 1) settings.mode = platform::WindowMode::FullScreen;
    else settings.mode = platform::WindowMode::Windowed;

    if (!platform::StartVideo(settings.mode, windowError_)) return false;
    window_ = platform::Window::Create(settings, queue_, keyboard_, windowError_);
    if (!window_) return false;
    hwnd_ = window_->Handle();
    hwnd_->proc = &MainWindow::StaticWindowProc;
    // Messages that arrive before the binding are handled by DefWindowProcA alone.
    SetWindowLongA(hwnd_, GWL_USERDATA, reinterpret_cast<LPARAM>(this));
    return true;
}

void MainWindow::AdoptWindow(HWND hwnd)
{
    hwnd_ = hwnd;
    hwnd_->queue = &queue_;
    hwnd_->proc = &MainWindow::StaticWindowProc;
    SetWindowLongA(hwnd_, GWL_USERDATA, reinterpret_cast<LPARAM>(this));
}

LRESULT MainWindow::StaticWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    auto* self = reinterpret_cast<MainWindow*>(GetWindowLongA(hwnd, GWL_USERDATA));
    if (self == nullptr) return DefWindowProcA(hwnd, msg, wParam, lParam);
    return self->WindowProc(hwnd, msg, wParam, lParam);
}

LRESULT MainWindow::WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_DESTROY) PostQuitMessage(hwnd, 0);
    else if (msg == WM_ACTIVATE) active_ = wParam != 0;
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

void MainWindow::AddEventSource(platform::EventSource* source)
{
    if (source != nullptr && std::find(sources_.begin(), sources_.end(), source) == sources_.end())
        sources_.push_back(source);
}

void MainWindow::RemoveEventSource(platform::EventSource* source)
{
    sources_.erase(std::remove(sources_.begin(), sources_.end(), source), sources_.end());
}

void MainWindow::PollSources()
{
    if (window_) window_->PumpEvents();
    // A source may remove itself while polled (a link closed by a message).
    std::vector<platform::EventSource*> sources = sources_;
    for (platform::EventSource* source : sources) source->Poll();
}

void MainWindow::WaitIdle(int timeoutMs)
{
    if (timeoutMs <= 0) return;
    std::vector<int> fds;
    for (platform::EventSource* source : sources_) source->CollectWaitDescriptors(fds);
    // A visible window needs its events looked at; a headless one has none.
    if (window_ && !headless_ && !window_->IsHeadless()) timeoutMs = std::min(timeoutMs, kEventPollMilliseconds);
    platform::WaitForDescriptors(fds, timeoutMs);
}

int MainWindow::Run()
{
    PostMessageA(hwnd_, WM_ACTIVATE, WA_ACTIVE, 0);
    MSG msg{};
    for (;;) {
        PollSources();
        if (queue_.Peek(msg)) {
            if (!queue_.Get(msg)) break;
            // Messages still queued for a destroyed window are dropped, as on Windows.
            if (msg.hwnd != nullptr && !msg.hwnd->destroyed)
                StaticWindowProc(msg.hwnd, msg.message, msg.wParam, msg.lParam);
        }
        Tick();
        if (queue_.Empty()) WaitIdle(IdleWaitMilliseconds());
    }
    return static_cast<int>(msg.wParam);
}
