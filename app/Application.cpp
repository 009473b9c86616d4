#include "app/Application.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "app/ConfigFile.h"
#include "common/Level.h"
#include "common/Log.h"
#include "common/StartStep.h"
#include "crystal/Crystal.h"
#include "crystal/CrystalCluster.h"
#include "crystal/World.h"
#include "platform/System.h"
#include "render/FrameWriter.h"
#include "scene/EventSequencer.h"
#include "scene/SceneState.h"
#include "scenery/IncomingImages.h"
#include "scenery/LightSet.h"
#include "sound/RecordingList.h"
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
    // Long offline renders draw their progress on one line of a terminal.
    showProgress_ = options_.fast && options_.steps != 0 && platform::ErrorOutputIsTerminal();
    for (const KeyPress& press : options_.presses)
        Keys().AddScript(platform::ScriptedPress{press.virtualKey, press.first, press.last});
}

Application::~Application()
{
    Teardown();
    // The pool outlives the application (it is process-wide) but its
    // textures and sprites must go while the device is still there.
    if (incomingImages_ != nullptr) incomingImages_->Destroy();
}

bool Application::Fail(const std::string& reason)
{
    if (failure_.empty()) failure_ = reason;
    return false;
}

bool Application::Init(HINSTANCE instance, int showCommand)
{
    // The steps that allocate much name themselves when memory runs out;
    // anywhere else it still ends the start with a line, not an abort.
    try {
        return StartUp(instance, showCommand);
    } catch (const std::bad_alloc&) {
        return Fail("out of memory");
    }
}

bool Application::StartUp(HINSTANCE instance, int showCommand)
{
    if (!CreateMainWindow(instance, showCommand, "Solvane", "Solvane", options_.windowed ? 0 : 1, 640, 480))
        return Fail(WindowError().empty() ? "cannot create the window" : WindowError());
    logicalWidth_ = 640;
    logicalHeight_ = 480;
    if (!renderDevice_.CreateDevice(Handle(), 640, 480, false)) return Fail("cannot create the graphics device");
    // No sound output is not a failed start: the player then runs silent.
    musicPlayer_.SetEcho(options_.echo);
    if (!musicPlayer_.Init(Handle())) return Fail("cannot start the music player");
    frameInterval_ = 50;
    ticker_.SetInterval(frameInterval_);

    world_ = &TheWorld();
    if (!RunStartStep([&] { return world_->Init(this, logicalWidth_, logicalHeight_); }))
        return Fail(world_->LastError().empty() ? "cannot build the scene" : world_->LastError());
    HDC deviceContext = nullptr;
    IDirect3DSurface9* backBuffer = renderDevice_.BackBuffer();
    if (backBuffer == nullptr || FAILED(backBuffer->GetDC(&deviceContext)))
        return Fail("cannot get a device context of the back buffer");
    incomingImages_ = &TheIncomingImages();
    bool imagesCreated = RunStartStep(
        [&] { return incomingImages_->Create(deviceContext, &renderDevice_, logicalWidth_, logicalHeight_); });
    backBuffer->ReleaseDC(deviceContext);
    if (!imagesCreated) return Fail("cannot create the incoming pictures");
    if (!RunStartStep([&] { return TheEventSequencer().Create(this); })) return Fail("cannot create the scene events");
    sequencerReady_ = true;
    if (!options_.framesDir.empty()) {
        std::error_code error;
        std::filesystem::create_directories(options_.framesDir, error);
        if (error) return Fail("cannot create the frames folder \"" + options_.framesDir + "\": " + error.message());
    }

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

    std::string oscError;
    if (!osc_.Start(options_.oscSend, options_.oscListen, controls_, oscError)) return Fail(oscError);

    return OpenNetworkLink();
}

bool Application::OpenNetworkLink()
{
    std::string host;
    int port = 0;
    if (options_.demo) {
        // The built-in peer on loopback stands in for the second machine.
        demoPeer_ = std::make_unique<DemoPeer>(sockets_, *clock_);
        if (!demoPeer_->Start()) {
            LogLine("net", "the built-in demo peer cannot listen on loopback; running without pictures");
            demoPeer_.reset();
            return true;
        }
        host = "127.0.0.1";
        port = demoPeer_->Port();
    } else if (!ReadPeerAddress(host, port)) {
        // Without a configuration file the installation runs without a link.
        return true;
    }
    netLink_ = std::make_unique<NetLink>(sockets_);
    netLink_->UseClock(*clock_);
    netLink_->AllowAnySource(options_.linkAnySource);
    AddEventSource(&sockets_);
    AddEventSource(netLink_.get());
    if (demoPeer_) AddEventSource(demoPeer_.get());
    if (!netLink_->Open(Handle(), LinkMode::Client, host.c_str(), port))
        return Fail("cannot start the network link to " + host + ":" + std::to_string(port));
    LogLine("net", "peer %s port %d", host.c_str(), port);
    return true;
}

void Application::Teardown()
{
    running_ = false;
    if (netLink_) {
        RemoveEventSource(netLink_.get());
        RemoveEventSource(&sockets_);
        netLink_.reset();
    }
    if (demoPeer_) {
        RemoveEventSource(demoPeer_.get());
        demoPeer_.reset();
    }
    if (world_ != nullptr) world_->Shutdown();
    musicPlayer_.Close();
    FinishRun();
}

void Application::FinishRun()
{
    if (finished_ || stepCount_ == 0) return;
    finished_ = true;
    if (showProgress_) std::fputc('\n', stderr);
    if (!options_.statsFile.empty()) {
        std::string error;
        if (!statistics_.WriteJson(options_.statsFile, error)) LogLine("stats", "%s", error.c_str());
        LogLine("stats", "%s", statistics_.SummaryLine().c_str());
    }
}

bool Application::ReadPeerAddress(std::string& host, int& port) const
{
    std::string path = options_.dataDir + "/theStrings.ini";
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    PeerAddress address;
    ReadConfiguration(file, address);
    std::fclose(file);
    if (!address.portValid) {
        LogWarning("net", "the port \"%s\" in %s is not a port number (1 to 65535); running without pictures",
                   address.portText.c_str(), path.c_str());
        return false;
    }
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
    // Before the controls: a flash they ask for is one the step shows.
    const int flashAlphaBefore = FlashAlpha;
    ApplyControls();
    IDirect3DDevice9* device = renderDevice_.Device();
    std::uint32_t presentsBefore = device != nullptr ? device->LastFrameStats().presentCount : 0;
    auto start = std::chrono::steady_clock::now();
    if (sequencerReady_) TheEventSequencer().Step();
    // Counted in the step's time, so that --stats shows what sending costs.
    if (osc_.Sending()) ReportStepOverOsc(flashAlphaBefore);
    double stepMilliseconds =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    AfterStep(stepMilliseconds, presentsBefore);
}

void Application::ApplyControls()
{
    for (const ControlRequest& request : controls_.Drain()) {
        switch (request.kind) {
        case ControlRequest::Kind::Close:
            // Exactly what a press of Escape does, in whichever event is current.
            Keys().KeyDown(VK_ESCAPE);
            Keys().KeyUp(VK_ESCAPE);
            break;
        case ControlRequest::Kind::Turn:
            // The arrow keys held until the next turn request; 0 lets go.
            if (request.value < 0) Keys().KeyDown(VK_LEFT);
            else Keys().KeyUp(VK_LEFT);
            if (request.value > 0) Keys().KeyDown(VK_RIGHT);
            else Keys().KeyUp(VK_RIGHT);
            break;
        case ControlRequest::Kind::SetThreshold:
            if (world_ != nullptr) world_->loudThreshold = level::DbfsToThreshold(request.value);
            break;
        case ControlRequest::Kind::Flash:
            // As a crystal's own flash: full white, fading over the next steps.
            FlashAlpha = 255;
            break;
        default:
            break;
        }
    }
}

void Application::ReportStepOverOsc(int flashAlphaBefore)
{
    std::array<std::int32_t, CrystalCluster::Count> phases{};
    OscStepView view;
    view.steps = stepCount_;
    view.clockMs = clock_->Milliseconds();
    if (world_ != nullptr && world_->crystals) {
        for (int k = 0; k < CrystalCluster::Count; ++k) {
            const auto& crystal = world_->crystals->crystals[k];
            phases[static_cast<std::size_t>(k)] = crystal ? crystal->phase : Listening;
        }
        view.phases = phases.data();
        view.crystals = phases.size();
    }
    if (world_ != nullptr && world_->recordingList)
        view.recordedBlocks = static_cast<std::uint32_t>(world_->recordingList->Count());
    view.flashAlphaBefore = flashAlphaBefore;
    view.flashAlphaAfter = FlashAlpha;
    if (incomingImages_ != nullptr) view.flightsStarted = incomingImages_->FlightsStarted();
    osc_.AfterStep(view);
}

void Application::AfterStep(double stepMilliseconds, std::uint32_t presentsBefore)
{
    IDirect3DDevice9* device = renderDevice_.Device();
    StepSample sample;
    sample.stepMilliseconds = stepMilliseconds;
    if (device != nullptr) {
        DeviceFrameStats frame = device->LastFrameStats();
        sample.presented = frame.presentCount != presentsBefore;
        sample.gpuDraws = frame.gpuDraws;
        sample.immediateCalls = frame.immediateCalls;
        sample.triangles = frame.triangles;
    }
    if (world_ != nullptr) {
        if (world_->lights) sample.liveSparks = static_cast<std::uint32_t>(world_->lights->LiveCount());
        if (world_->crystals)
            for (const auto& crystal : world_->crystals->crystals)
                if (crystal && crystal->phase >= Listening && crystal->phase <= Resting)
                    ++sample.crystalsInPhase[static_cast<std::size_t>(crystal->phase)];
    }
    if (incomingImages_ != nullptr) sample.picturesInFlight = static_cast<std::uint32_t>(incomingImages_->InFlight());
    statistics_.AddStep(sample, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - startedAt_).count());
    PublishHealth(sample);
    if (sample.presented) WriteFrameIfDue();

    if (fastClock_ != nullptr) voiceCapture_.Poll();
    if (showProgress_ && (stepCount_ % 10 == 0 || stepCount_ == options_.steps))
        std::fprintf(stderr, "\rsolvane: step %u of %u", stepCount_, options_.steps);
    if (options_.steps != 0 && stepCount_ >= options_.steps && Handle() != nullptr && running_)
        SendMessageA(Handle(), WM_CLOSE, 0, 0);
}

void Application::PublishHealth(const StepSample& sample)
{
    health_.steps = stepCount_;
    health_.uptime_s = std::chrono::duration<double>(std::chrono::steady_clock::now() - startedAt_).count();
    health_.crystals = sample.crystalsInPhase;
    health_.sparks = sample.liveSparks;
    health_.pictures_in_flight = sample.picturesInFlight;
    board_.Publish(health_);
}

void Application::WriteFrameIfDue()
{
    if (options_.framesDir.empty() || stepCount_ % options_.frameEvery != 0) return;
    char name[32];
    std::snprintf(name, sizeof name, "/frame-%06u.png", stepCount_);
    if (WriteFrame(renderDevice_.Device(), options_.framesDir + name)) statistics_.AddFrameWritten();
    else LogLine("frames", "cannot write \"%s%s\"", options_.framesDir.c_str(), name);
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
    // The world's buffer is process-wide storage: it takes blocks before the
    // world is filled and after it is emptied.
    TheWorld().StoreBlock(header->lpData, header->dwBufferLength);
    osc_.OnBlock(reinterpret_cast<const std::int16_t*>(header->lpData), header->dwBufferLength / sizeof(std::int16_t));
    voiceCapture_.UnprepareBuffer(header);
}

LRESULT Application::WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    // The link sees every message first and takes its socket events.
    if (netLink_) netLink_->HandleMessage(hwnd, msg, wParam, lParam);
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
