#include "app/Application.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "app/CommandLine.h"
#include "app/ConfigFile.h"
#include "app/Settings.h"
#include "common/Level.h"
#include "common/Log.h"
#include "common/StartStep.h"
#include "crystal/World.h"
#include "operator/RemoteAccess.h"
#include "operator/TokenFile.h"
#include "platform/d3d9/RecordingDevice.h"
#include "scene/Event.h"
#include "scene/EventSequencer.h"
#include "scenery/IncomingImages.h"
#include "sound/DemoVoice.h"
#include "sound/VoiceStore.h"

namespace {

const char* StopSignalName(LPARAM number)
{
    switch (number) {
    case SIGINT: return "Ctrl-C (SIGINT)";
    case SIGTERM: return "a stop was asked for (SIGTERM)";
    default: return "a stop signal";
    }
}

}  // namespace

Application::Application(const Options& options)
    : options_(options),
      panels_(options_, renderDevice_, logicalWidth_, logicalHeight_),
      controls_(options_, Keys(), panels_, [this](const std::string& why) { EndCalibration(why); }),
      health_(options_, voiceCapture_, meter_, osc_, controls_),
      steps_(options_, parts_, StepWindow{[this] { return Handle(); }, [this] { return running_; }}, renderDevice_,
             voiceCapture_, meter_, osc_, health_, controls_, panels_, remoteFrame_, Keys())
{
    // The null renderer needs no display: nothing is drawn anywhere.
    bool nullRenderer = options_.renderer == "null";
    SetHeadless(options_.headless || nullRenderer);
    if (nullRenderer) SetDirect3DFactory(NullDirect3DCreate9);
    SetDisplay(options_.displayIndex);
    if (options_.fast) {
        auto clock = std::make_unique<platform::ManualClock>();
        parts_.fastClock = clock.get();
        clock_ = std::move(clock);
    } else {
        clock_ = std::make_unique<platform::SystemClock>();
    }
    parts_.clock = clock_.get();
    for (const KeyPress& press : options_.presses)
        Keys().AddScript(platform::ScriptedPress{press.virtualKey, press.first, press.last});
}

Application::~Application()
{
    Teardown();
    // The pool outlives the application (it is process-wide) but its
    // textures and sprites must go while the device is still there.
    if (parts_.images != nullptr) parts_.images->Destroy();
}

void Application::SetClock(std::unique_ptr<platform::Clock> clock)
{
    clock_ = std::move(clock);
    parts_.clock = clock_.get();
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
    {
        // Checked first, so that a mistyped --data is named as such instead
        // of as the first data file that cannot be found in it.
        std::error_code error;
        const std::string& data = options_.dataDir.empty() ? std::string(".") : options_.dataDir;
        if (!std::filesystem::exists(data, error)) return Fail("the data folder \"" + data + "\" is missing");
        if (!std::filesystem::is_directory(data, error)) return Fail("\"" + data + "\" is not a folder");
    }
    if (!CreateMainWindow(instance, showCommand, "Solvane", "Solvane", options_.windowed ? 0 : 1, 640, 480))
        return Fail(WindowError().empty() ? "cannot create the window" : WindowError());
    logicalWidth_ = 640;
    logicalHeight_ = 480;
    if (!renderDevice_.CreateDevice(Handle(), 640, 480, false)) return Fail("cannot create the graphics device");
    // No sound output is not a failed start: the player then runs silent.
    musicPlayer_.SetEcho(options_.echo);
    if (!musicPlayer_.Init(Handle())) return Fail("cannot start the music player");
    steps_.SetInterval(50);

    World* world = &TheWorld();
    parts_.world = world;
    if (!RunStartStep([&] { return world->Init(this, logicalWidth_, logicalHeight_); }))
        return Fail(world->LastError().empty() ? "cannot build the scene" : world->LastError());
    world->loudThreshold = controls_.Threshold();
    HDC deviceContext = nullptr;
    IDirect3DSurface9* backBuffer = renderDevice_.BackBuffer();
    if (backBuffer == nullptr || FAILED(backBuffer->GetDC(&deviceContext)))
        return Fail("cannot get a device context of the back buffer");
    IncomingImages* images = &TheIncomingImages();
    parts_.images = images;
    bool imagesCreated = RunStartStep(
        [&] { return images->Create(deviceContext, &renderDevice_, logicalWidth_, logicalHeight_); });
    backBuffer->ReleaseDC(deviceContext);
    if (!imagesCreated) return Fail("cannot create the incoming pictures");
    if (!RunStartStep([&] { return TheEventSequencer().Create(this); })) return Fail("cannot create the scene events");
    parts_.sequencerReady = true;
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
        voiceCapture_.UseStream(std::make_unique<DemoVoice>(capture.clock, options_.fast), "built-in demo voice");
        LogLine("capture", "the built-in demo voice is the microphone");
    }
    voiceCapture_.Open(Handle());
    if (!voiceCapture_.OpenFailure().empty()) return Fail(voiceCapture_.OpenFailure());
    // In --fast runs the capture is polled once per scene step (AfterStep),
    // so that every step finds exactly one new block.
    if (parts_.fastClock != nullptr) voiceCapture_.Poll();
    else AddEventSource(&voiceCapture_);

    if (!StartVideo()) return false;

    std::string oscError;
    if (!osc_.Start(options_.oscSend, options_.oscListen, options_.oscAllow, controls_.Queue(), oscError)) return Fail(oscError);

    if (!OpenNetworkLink()) return false;
    if (!StartRemoteView()) return false;
    LogStarted();
    return true;
}

void Application::LogStarted()
{
    std::string mode = options_.renderer == "null" ? "none (null renderer)"
                       : options_.headless        ? "headless (offscreen)"
                       : options_.windowed        ? "windowed 640x480"
                                                  : "full screen";
    std::string capture;
    if (!options_.voiceFile.empty()) capture = "voice file \"" + options_.voiceFile + "\"";
    else if (options_.demo) capture = "the built-in demo voice";
    else if (!voiceCapture_.IsOpen()) capture = "none";
    else capture = options_.inputDevice.empty() ? "the default device" : "\"" + options_.inputDevice + "\"";
    if (voiceCapture_.IsOpen() || !options_.voiceFile.empty())
        capture += " at " + std::to_string(voiceCapture_.Format().nSamplesPerSec) + " Hz";
    const std::string& address = health_.Current().peer.address;
    std::string peer = address.empty() ? "none" : address;
    LogLine("", "started: version %s, display %s, capture %s, data folder \"%s\", peer %s, status file \"%s\"",
            SOLVANE_VERSION, mode.c_str(), capture.c_str(), options_.dataDir.c_str(), peer.c_str(),
            health_.Status().Path().c_str());
}

bool Application::StartRemoteView()
{
    if (options_.httpListen.empty()) return true;
    health_.PublishNow();
    std::string error;
    std::string token = options_.httpToken;
    if (!options_.httpTokenFile.empty()) {
        std::string warning;
        if (!ReadTokenFile(options_.httpTokenFile, token, error, warning)) return Fail("web view: " + error);
        if (!warning.empty()) LogWarning("web", "%s", warning.c_str());
    }
    remoteView_ = std::make_unique<RemoteView>(health_.Board(), controls_.Queue(), remoteFrame_);
    if (!remoteView_->Start(options_.httpListen, token, error, SplitHostNames(options_.httpHosts))) {
        remoteView_.reset();
        return Fail("web view: " + error);
    }
    std::string host = remoteView_->Host();
    if (host.find(':') != std::string::npos) host = "[" + host + "]";
    LogLine("web", "serving http://%s:%d/ (%s)", host.c_str(), remoteView_->Port(),
            token.empty() ? "read-only" : "controls with the token");
    parts_.remoteView = true;
    return true;
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
    parts_.link = netLink_.get();
    netLink_->UseClock(*clock_);
    netLink_->AllowAnySource(options_.linkAnySource);
    AddEventSource(&sockets_);
    AddEventSource(netLink_.get());
    if (demoPeer_) AddEventSource(demoPeer_.get());
    if (!netLink_->Open(Handle(), host.c_str(), port))
        return Fail("cannot start the network link to " + host + ":" + std::to_string(port));
    LogLine("net", "peer %s port %d", host.c_str(), port);
    health_.NotePeer(host + ":" + std::to_string(port));
    return true;
}

void Application::Teardown()
{
    running_ = false;
    if (remoteView_) remoteView_->Stop();
    if (netLink_) {
        RemoveEventSource(netLink_.get());
        RemoveEventSource(&sockets_);
        parts_.link = nullptr;
        netLink_.reset();
    }
    if (demoPeer_) {
        RemoveEventSource(demoPeer_.get());
        demoPeer_.reset();
    }
    if (parts_.world != nullptr) parts_.world->Shutdown();
    musicPlayer_.Close();
    // A step that closes the window is counted in full: the run is summed
    // up when that step is over.
    if (!steps_.InStep()) steps_.FinishRun();
}

bool Application::ReadPeerAddress(std::string& host, int& port) const
{
    // The user's own copy names the peer of an installed program, whose
    // data folder is not the operator's to edit; it wins over the data
    // folder's file.
    std::string path = options_.userPeerFile;
    std::error_code error;
    if (path.empty() || !std::filesystem::is_regular_file(path, error)) path = options_.dataDir + "/theStrings.ini";
    PeerAddress address;
    std::string why;
    if (!ReadConfigurationFile(path, address, why)) {
        if (why != "missing")
            LogWarning("net", "cannot read %s: %s; running without pictures", path.c_str(), why.c_str());
        return false;
    }
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
    steps_.Tick();
}

void Application::CopyCaptureBlock(WAVEHDR* header)
{
    voiceCapture_.QueueBuffers();
    // The gain acts as a preamp would: before the crystals, the meter and
    // memory.wav see the block, so all three hear the same sound.
    const std::uint32_t length = header->dwBufferLength;
    block_.assign(length / 2 + 1, 0);
    std::memcpy(block_.data(), header->lpData, length);
    level::ApplyGain(block_.data(), length / 2, controls_.GainDb());
    meter_.AddBlock(block_.data(), length / 2);
    health_.NoteBlock(clock_->Milliseconds());
    // The world's buffer is process-wide storage: it takes blocks before the
    // world is filled and after it is emptied.
    TheWorld().StoreBlock(block_.data(), length);
    osc_.OnBlock(block_.data(), length / sizeof(std::int16_t));
    if (video_) video_->Heard(block_.data(), length / sizeof(std::int16_t));
    voiceCapture_.UnprepareBuffer(header);
}

LRESULT Application::WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    // The link sees every message first and takes its socket events.
    if (netLink_) netLink_->HandleMessage(hwnd, msg, wParam, lParam);
    switch (msg) {
    case WM_CLOSE:
        steps_.NoteStopReason(CloseReason(lParam));
        break;
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

std::string Application::CloseReason(LPARAM signal) const
{
    if (signal != 0) return StopSignalName(signal);
    if (!steps_.InStep()) return "the window was closed";
    // The scene closes the window itself: at once on the title, at the end
    // of the closing sequence elsewhere.
    const std::string cause = controls_.CloseCause().empty() ? "Escape" : controls_.CloseCause();
    const Event* current = parts_.sequencerReady ? TheEventSequencer().Current() : nullptr;
    if (current != nullptr && std::strcmp(current->Name(), "EventTitle") == 0) return cause + " during the title";
    return cause + " during the scene (the closing sequence ended)";
}

std::vector<std::string> Application::CurrentProblems() const
{
    return health_.CurrentProblems(*clock_, steps_.Count());
}

void Application::DrawOverlays(IDirect3DDevice9* device)
{
    if (!panels_.MayShow()) return;
    std::vector<std::string> problems;
    if (options_.showProblems) problems = CurrentProblems();
    panels_.Draw(device, controls_.PanelVisible(), problems, health_.Current(),
                 static_cast<float>(steps_.Interval()) / 1000.0f);
}

void Application::EndCalibration(const std::string& why)
{
    steps_.NoteStopReason(why);
    if (Handle() != nullptr && running_) SendMessageA(Handle(), WM_CLOSE, 0, 0);
}

// --video ------------------------------------------------------------------

bool Application::StartVideo()
{
    if (options_.video.empty()) return true;
    if (!IsVideoFileName(options_.video))
        return Fail("--video needs a file name ending in .mp4 or .mkv, got \"" + options_.video + "\"");
    if (options_.renderer == "null") return Fail("--video needs pictures: it cannot run with --renderer null");
    video_ = std::make_unique<VideoRecording>(options_);
    std::string error;
    if (!video_->Start(error)) {
        video_.reset();
        return Fail("--video: " + error);
    }
    VideoRecording* video = video_.get();
    parts_.video = video;
    if (MusicPerformance* performance = musicPlayer_.Performance(); performance != nullptr)
        performance->SetEchoListener([video](const MusicWave& wave) { video->Echo(wave); });
    return true;
}

