#include "app/Application.h"

#include <cstdio>
#include <cstring>

#include "app/ConfigFile.h"
#include "common/Log.h"
#include "sound/DemoVoice.h"

namespace {

// In --fast runs every idle pass is one scene step of this much virtual time.
constexpr DWORD kFastStepMilliseconds = 51;

}  // namespace

Application::Application(const Options& options) : options_(options)
{
    SetHeadless(options_.headless);
    if (options_.fast) {
        auto clock = std::make_unique<platform::ManualClock>();
        fastClock_ = clock.get();
        clock_ = std::move(clock);
    } else {
        clock_ = std::make_unique<platform::SystemClock>();
    }
    for (const KeyPress& press : options_.presses)
        Keys().AddScript(platform::ScriptedPress{press.virtualKey, press.first, press.last});
}

Application::~Application() { Teardown(); }

bool Application::Fail(const std::string& reason)
{
    if (failure_.empty()) failure_ = reason;
    return false;
}

bool Application::Init(HINSTANCE instance, int showCommand)
{
    if (!CreateMainWindow(instance, showCommand, "Solvane", "Solvane", options_.windowed ? 0 : 1, 640, 480))
        return Fail(WindowError().empty() ? "cannot create the window" : WindowError());
    logicalWidth_ = 640;
    logicalHeight_ = 480;
    frameInterval_ = 50;
    ticker_.SetInterval(frameInterval_);

    // The microphone. Without a capture device the installation runs on
    // without sound input; a voice file that was asked for and cannot be
    // read is an operator's mistake, so that one fails the start.
    VoiceCaptureSettings capture;
    capture.voiceFile = options_.voiceFile;
    capture.inputDevice = options_.inputDevice;
    capture.fast = options_.fast;
    platform::Clock* clock = clock_.get();
    capture.clock = [clock] { return clock->Milliseconds(); };
    voiceCapture_.Configure(capture);
    if (options_.demo && options_.voiceFile.empty()) {
        voiceCapture_.UseStream(std::make_unique<DemoVoice>(capture.clock, options_.fast));
        LogLine("capture", "the built-in demo voice is the microphone");
    }
    voiceCapture_.Open(Handle());
    if (!voiceCapture_.OpenFailure().empty()) return Fail(voiceCapture_.OpenFailure());
    // In --fast runs the capture is polled once per scene step (AfterStep),
    // so that every step finds exactly one new block.
    if (fastClock_ != nullptr) voiceCapture_.Poll();
    else AddEventSource(&voiceCapture_);
    return true;
}

void Application::Teardown()
{
    running_ = false;
    netLink_ = nullptr;
}

bool Application::ReadPeerAddress(std::string& host, int& port) const
{
    std::string path = options_.dataDir + "/theStrings.ini";
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    PeerAddress address;
    ReadConfiguration(file, address);
    std::fclose(file);
    host = address.host;
    port = address.port;
    return true;
}

void Application::Tick()
{
    if (NativeWindow() != nullptr) NativeWindow()->HideCursor();
    DWORD now = clock_->Milliseconds();
    if (!ticker_.StepDue(now)) return;
    ++stepCount_;
    Keys().SetStep(stepCount_);
    AfterStep();
}

void Application::AfterStep()
{
    if (fastClock_ != nullptr) voiceCapture_.Poll();
    if (options_.steps != 0 && stepCount_ >= options_.steps && Handle() != nullptr && running_)
        SendMessageA(Handle(), WM_CLOSE, 0, 0);
}

int Application::IdleWaitMilliseconds()
{
    if (fastClock_ != nullptr) {
        fastClock_->Advance(kFastStepMilliseconds);
        return 0;
    }
    return static_cast<int>(ticker_.MillisecondsUntilDue(clock_->Milliseconds()));
}

void Application::CopyCaptureBlock(WAVEHDR* header)
{
    voiceCapture_.QueueBuffers();
    voiceCapture_.UnprepareBuffer(header);
}

LRESULT Application::WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_DESTROY:
        Teardown();
        PostQuitMessage(hwnd, 0);
        break;
    case WM_ACTIVATE:
    case WM_ACTIVATEAPP:
        active_ = wParam != 0;
        break;
    case MM_WIM_DATA: {
        auto* header = reinterpret_cast<WAVEHDR*>(lParam);
        if (captureCopyEnabled_ && header != nullptr && (header->dwFlags & WHDR_DONE) != 0 &&
            (header->dwFlags & WHDR_PREPARED) != 0) {
            captureCopyEnabled_ = false;
            CopyCaptureBlock(header);
            captureCopyEnabled_ = true;
        }
        break;
    }
    default:
        break;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}
