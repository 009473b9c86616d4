#include "app/Application.h"

#include <array>
#include <csignal>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "app/CommandLine.h"
#include "app/ConfigFile.h"
#include "app/Settings.h"
#include "common/Level.h"
#include "common/Log.h"
#include "common/StartStep.h"
#include "crystal/Crystal.h"
#include "crystal/CrystalCluster.h"
#include "crystal/World.h"
#include "operator/RemoteAccess.h"
#include "operator/TokenFile.h"
#include "platform/d3d9/RecordingDevice.h"
#include "platform/system/System.h"
#include "render/FrameWriter.h"
#include "scene/Event.h"
#include "scene/EventSequencer.h"
#include "scene/SceneState.h"
#include "scenery/IncomingImages.h"
#include "scenery/LightSet.h"
#include "sound/DemoVoice.h"
#include "sound/RecordingList.h"
#include "sound/VoiceStore.h"

namespace {

// In --fast runs every idle pass is one scene step of this much virtual time.
constexpr DWORD kFastStepMilliseconds = 51;
// A problem is shown once it has lasted this long.
constexpr DWORD kProblemMilliseconds = 10000;
// The headless calibration meter prints once a second.
constexpr std::uint32_t kStepsPerSecond = 20;
// Flashes asked for from outside come at most this often: enough for a show
// on the beat, well below the three a second that can harm people with
// photosensitive epilepsy.
constexpr DWORD kMinFlashIntervalMs = 500;
constexpr const char* kPanelFont = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
constexpr float kPanelFontPixels = 13.0f;

std::string LocalTime(std::time_t when)
{
    std::tm local{};
    localtime_r(&when, &local);
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S%z", &local);
    return text;
}

// Who asked for a change, as its log line ends.
const char* By(const ControlRequest& request) { return request.source.empty() ? "by key" : request.source.c_str(); }

// The kind of a paced line (common/Log.h): the change and the way it came,
// so that a flood from one sender never sums up a change made by hand.
std::string PaceKind(const char* change, const ControlRequest& request)
{
    return std::string(change) + " " + request.source.substr(0, request.source.find(" from"));
}

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
    : options_(options), statusFile_(options.statusFile)
{
    health_.started_at = LocalTime(std::time(nullptr));
    // The null renderer needs no display: nothing is drawn anywhere.
    bool nullRenderer = options_.renderer == "null";
    SetHeadless(options_.headless || nullRenderer);
    if (nullRenderer) SetDirect3DFactory(NullDirect3DCreate9);
    SetDisplay(options_.displayIndex);
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
    threshold_ = options_.threshold;
    gainDb_ = options_.gainDb;
    health_.threshold = threshold_;
    health_.gain_db = gainDb_;
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
    frameInterval_ = 50;
    ticker_.SetInterval(frameInterval_);

    world_ = &TheWorld();
    if (!RunStartStep([&] { return world_->Init(this, logicalWidth_, logicalHeight_); }))
        return Fail(world_->LastError().empty() ? "cannot build the scene" : world_->LastError());
    world_->loudThreshold = threshold_;
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
        voiceCapture_.UseStream(std::make_unique<DemoVoice>(capture.clock, options_.fast), "built-in demo voice");
        LogLine("capture", "the built-in demo voice is the microphone");
    }
    voiceCapture_.Open(Handle());
    if (!voiceCapture_.OpenFailure().empty()) return Fail(voiceCapture_.OpenFailure());
    // In --fast runs the capture is polled once per scene step (AfterStep),
    // so that every step finds exactly one new block.
    if (fastClock_ != nullptr) voiceCapture_.Poll();
    else AddEventSource(&voiceCapture_);

    if (!StartVideo()) return false;

    std::string oscError;
    if (!osc_.Start(options_.oscSend, options_.oscListen, options_.oscAllow, controls_, oscError)) return Fail(oscError);

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
    std::string peer = health_.peer.address.empty() ? "none" : health_.peer.address;
    LogLine("", "started: version %s, display %s, capture %s, data folder \"%s\", peer %s, status file \"%s\"",
            SOLVANE_VERSION, mode.c_str(), capture.c_str(), options_.dataDir.c_str(), peer.c_str(),
            statusFile_.Path().c_str());
}

bool Application::StartRemoteView()
{
    if (options_.httpListen.empty()) return true;
    board_.Publish(health_);
    std::string error;
    std::string token = options_.httpToken;
    if (!options_.httpTokenFile.empty()) {
        std::string warning;
        if (!ReadTokenFile(options_.httpTokenFile, token, error, warning)) return Fail("web view: " + error);
        if (!warning.empty()) LogWarning("web", "%s", warning.c_str());
    }
    remoteView_ = std::make_unique<RemoteView>(board_, controls_, remoteFrame_);
    if (!remoteView_->Start(options_.httpListen, token, error, SplitHostNames(options_.httpHosts))) {
        remoteView_.reset();
        return Fail("web view: " + error);
    }
    std::string host = remoteView_->Host();
    if (host.find(':') != std::string::npos) host = "[" + host + "]";
    LogLine("web", "serving http://%s:%d/ (%s)", host.c_str(), remoteView_->Port(),
            token.empty() ? "read-only" : "controls with the token");
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
    peerAddress_ = host + ":" + std::to_string(port);
    netLink_ = std::make_unique<NetLink>(sockets_);
    netLink_->UseClock(*clock_);
    netLink_->AllowAnySource(options_.linkAnySource);
    AddEventSource(&sockets_);
    AddEventSource(netLink_.get());
    if (demoPeer_) AddEventSource(demoPeer_.get());
    if (!netLink_->Open(Handle(), LinkMode::Client, host.c_str(), port))
        return Fail("cannot start the network link to " + host + ":" + std::to_string(port));
    LogLine("net", "peer %s port %d", host.c_str(), port);
    health_.peer.state = "connecting";
    health_.peer.address = host + ":" + std::to_string(port);
    return true;
}

void Application::Teardown()
{
    running_ = false;
    if (remoteView_) remoteView_->Stop();
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
    // A step that closes the window is counted in full: the run is summed
    // up when that step is over.
    if (!inStep_) FinishRun();
}

void Application::FinishRun()
{
    if (finished_ || stepCount_ == 0) return;
    finished_ = true;
    NoteStepCpu();
    double uptime = std::chrono::duration<double>(std::chrono::steady_clock::now() - startedAt_).count();
    std::string why = stopReason_.empty() ? "the window was closed" : stopReason_;
    notifier_.Stopping(why);
    if (video_) {
        video_->Finish();
        NoteVideoHealth();
    }
    // The last snapshot, so that the file shows where the run ended and why.
    health_.state = "stopped";
    health_.stop_reason = why;
    health_.stopped_at = LocalTime(std::time(nullptr));
    std::string statusError;
    if (!statusFile_.Write(health_, statusError)) LogWarning("status", "%s", statusError.c_str());
    FlushLogRepeats(true);
    LogLine("", "stopped: %s, up %.1f s, %u steps", why.c_str(), uptime, stepCount_);
    if (showProgress_) std::fputc('\n', stderr);
    if (!options_.statsFile.empty()) {
        std::string error;
        if (!statistics_.WriteJson(options_.statsFile, error)) LogLine("stats", "%s", error.c_str());
        LogLine("stats", "%s", statistics_.SummaryLine().c_str());
    }
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
    DWORD now = clock_->Milliseconds();
    if (!ticker_.StepDue(now)) return;
    NoteStepCpu();
    ++stepCount_;
    Keys().SetStep(stepCount_);
    // Before the controls: a flash they ask for is one the step shows.
    const int flashAlphaBefore = FlashAlpha;
    ApplyControls();
    UpdateProblemClocks();
    IDirect3DDevice9* device = renderDevice_.Device();
    std::uint32_t presentsBefore = device != nullptr ? device->LastFrameStats().presentCount : 0;
    auto start = std::chrono::steady_clock::now();
    inStep_ = true;
    if (options_.calibrate) CalibrationStep();
    else if (sequencerReady_) TheEventSequencer().Step();
    inStep_ = false;
    // Counted in the step's time, so that --stats shows what sending costs.
    if (osc_.Sending()) ReportStepOverOsc(flashAlphaBefore);
    double stepMilliseconds =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    AfterStep(stepMilliseconds, presentsBefore);
    if (!running_) FinishRun();
}

void Application::NoteStepCpu()
{
    const std::clock_t now = std::clock();
    if (now == static_cast<std::clock_t>(-1)) return;
    const double milliseconds = 1000.0 * static_cast<double>(now) / CLOCKS_PER_SEC;
    if (stepCpuStart_ >= 0) statistics_.AddStepCpu(milliseconds - stepCpuStart_);
    stepCpuStart_ = milliseconds;
}

void Application::ReportStepOverOsc(int flashAlphaBefore)
{
    // The reporter knows phases by their place in the health report's names.
    static_assert(Recording == 1 && Revealing == 2 && Resting + 1 == Health::kPhaseNames.size());
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
    // A voice stored on the store's thread becomes the segment here, between steps.
    if (world_ != nullptr) {
        // Offline, a recording's echo starts in the step that stored the
        // voice, not whenever the store's thread is done.
        if (video_ && fastClock_ != nullptr) world_->FinishVoiceStore();
        else world_->CollectStoredVoice();
    }
    IDirect3DDevice9* device = renderDevice_.Device();
    StepSample sample;
    sample.stepMilliseconds = stepMilliseconds;
    if (device != nullptr) {
        DeviceFrameStats frame = device->LastFrameStats();
        sample.presented = frame.presentCount != presentsBefore;
        sample.gpuDraws = frame.gpuDraws;
        sample.immediateCalls = frame.immediateCalls;
        sample.triangles = frame.triangles;
        sample.uploadBytes = frame.uploadBytes;
        sample.textureBinds = frame.textureBinds;
        sample.stateCalls = frame.stateCalls;
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
    if (video_) RecordVideoStep(sample.presented);
    PublishHealth(sample);
    if (sample.presented) {
        WriteFrameIfDue();
        OfferRemoteFrameIfDue();
    }

    if (fastClock_ != nullptr) voiceCapture_.Poll();
    if (showProgress_ && (stepCount_ % 10 == 0 || stepCount_ == options_.steps))
        std::fprintf(stderr, "\rsolvane: step %u of %u", stepCount_, options_.steps);
    if (options_.steps != 0 && stepCount_ >= options_.steps && Handle() != nullptr && running_) {
        if (stopReason_.empty()) stopReason_ = "--steps " + std::to_string(options_.steps) + " reached";
        SendMessageA(Handle(), WM_CLOSE, 0, 0);
    }
}

void Application::PublishHealth(const StepSample& sample)
{
    auto now = std::chrono::steady_clock::now();
    double seconds = std::chrono::duration<double>(now - startedAt_).count();
    pace_.AddStep(sample.stepMilliseconds, seconds);
    health_.steps = stepCount_;
    health_.uptime_s = seconds;
    health_.steps_per_second = pace_.StepsPerSecond(seconds);
    health_.step_ms_p99 = pace_.StepMsP99();
    health_.crystals = sample.crystalsInPhase;
    health_.sparks = sample.liveSparks;
    health_.pictures_in_flight = sample.picturesInFlight;
    health_.microphone.state = VoiceCapture::StateName(voiceCapture_.State());
    health_.microphone.device = voiceCapture_.DeviceName();
    if (world_ != nullptr) {
        if (const StoredVoiceInfo* voice = world_->LastStoredVoice(); voice != nullptr) {
            health_.last_voice.path = voice->path;
            health_.last_voice.blocks = static_cast<std::uint32_t>(voice->blocks);
            if (voice->unixTime != shownVoiceTime_) {
                health_.last_voice.time = LocalTime(static_cast<std::time_t>(voice->unixTime));
                shownVoiceTime_ = voice->unixTime;
            }
        }
    }
    if (netLink_) {
        const LinkStatus link = netLink_->Status();
        // Between tries the link may report no state; the peer is still configured.
        health_.peer.state = link.state == LinkState::None ? "connecting"
                             : link.noPictures             ? "no pictures"
                                                           : LinkStateName(link.state);
        health_.peer.address = link.peer.empty() ? peerAddress_ : link.peer;
        health_.peer.last_contact = link.lastContactSeconds;
        health_.pictures_received = link.picturesReceived;
    }
    health_.threshold = threshold_;
    health_.gain_db = gainDb_;
    health_.panel_visible = panelVisible_;
    if (video_) NoteVideoHealth();
    if (meter_.BlockCount() > 0) {
        health_.input_peak_dbfs = level::SampleToDbfs(meter_.LatestPeak());
        health_.input_rms_dbfs = level::SampleToDbfs(meter_.LatestRms());
    }
    health_.osc.listening = osc_.Listener() != nullptr;
    health_.osc.heard = osc_.Heard();
    health_.osc.ignored = osc_.Ignored();
    LogProblemCounts problems = CountedLogProblems();
    health_.warnings = problems.warnings;
    health_.errors = problems.errors;
    board_.Publish(health_);

    statusFile_.WriteIfDue(health_, now);
    if (sample.presented) notifier_.FramePresented(health_);
    notifier_.Stepped(health_, now);
    FlushLogRepeats();
}

void Application::WriteFrameIfDue()
{
    if (options_.framesDir.empty() || stepCount_ % options_.frameEvery != 0) return;
    char name[32];
    std::snprintf(name, sizeof name, "/frame-%06u.png", stepCount_);
    if (WriteFrame(renderDevice_.Device(), options_.framesDir + name)) statistics_.AddFrameWritten();
    else LogLine("frames", "cannot write \"%s%s\"", options_.framesDir.c_str(), name);
}

// The web view's picture: read back on this thread (the device is this
// thread's), at most once a second; the server encodes it on its own.
void Application::OfferRemoteFrameIfDue()
{
    if (!remoteView_ || renderDevice_.Device() == nullptr) return;
    auto now = FrameSnapshot::Clock::now();
    if (!remoteFrame_.Due(now)) return;
    std::vector<std::uint8_t> rgb;
    UINT width = 0, height = 0;
    if (!renderDevice_.Device()->ReadBackBuffer(rgb, width, height)) width = height = 0;
    remoteFrame_.Offer(std::move(rgb), width, height, now);
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
    // The gain acts as a preamp would: before the crystals, the meter and
    // memory.wav see the block, so all three hear the same sound.
    const std::uint32_t length = header->dwBufferLength;
    block_.assign(length / 2 + 1, 0);
    std::memcpy(block_.data(), header->lpData, length);
    level::ApplyGain(block_.data(), length / 2, gainDb_);
    meter_.AddBlock(block_.data(), length / 2);
    lastBlockMs_ = clock_->Milliseconds();
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
        if (stopReason_.empty()) stopReason_ = CloseReason(lParam);
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
    if (!inStep_) return "the window was closed";
    // The scene closes the window itself: at once on the title, at the end
    // of the closing sequence elsewhere.
    const std::string cause = closeCause_.empty() ? "Escape" : closeCause_;
    const Event* current = sequencerReady_ ? TheEventSequencer().Current() : nullptr;
    if (current != nullptr && std::strcmp(current->Name(), "EventTitle") == 0) return cause + " during the title";
    return cause + " during the scene (the closing sequence ended)";
}

SHORT Application::GetAsyncKeyState(int virtualKey)
{
    SHORT state = Keys().GetAsyncKeyState(virtualKey);
    if (virtualKey == VK_ESCAPE && closeRequested_) {
        closeRequested_ = false;
        if (closeCause_.empty()) closeCause_ = closeSource_;
        state = 1;
    }
    // The scene asks for Escape only where it acts on it.
    if (virtualKey == VK_ESCAPE && state != 0 && closeCause_.empty()) closeCause_ = "Escape";
    if ((virtualKey == VK_LEFT && turn_ < 0) || (virtualKey == VK_RIGHT && turn_ > 0)) state = 1;
    return state;
}

bool Application::KeyWentDown(int virtualKey)
{
    const bool down = Keys().GetAsyncKeyState(virtualKey) != 0;
    const bool wentDown = down && !keyWasDown_[static_cast<std::size_t>(virtualKey)];
    keyWasDown_[static_cast<std::size_t>(virtualKey)] = down;
    return wentDown;
}

void Application::PostKeyRequests()
{
    if (KeyWentDown(VK_F1)) controls_.Post({ControlRequest::Kind::TogglePanel, 0});
    if (!options_.calibrate) return;
    // The scene is not running: the arrows and Escape belong to the meter.
    if (KeyWentDown(VK_UP))
        controls_.Post({ControlRequest::Kind::SetThreshold, level::ThresholdToDbfs(threshold_) + 1.0});
    if (KeyWentDown(VK_DOWN))
        controls_.Post({ControlRequest::Kind::SetThreshold, level::ThresholdToDbfs(threshold_) - 1.0});
    if (KeyWentDown(VK_RIGHT)) controls_.Post({ControlRequest::Kind::SetGain, gainDb_ + 1.0});
    if (KeyWentDown(VK_LEFT)) controls_.Post({ControlRequest::Kind::SetGain, gainDb_ - 1.0});
    if (KeyWentDown(VK_ESCAPE)) controls_.Post({ControlRequest::Kind::Close, 0});
    if (KeyWentDown(VK_S)) SaveCalibration();
}

void Application::ApplyControls()
{
    PostKeyRequests();
    for (const ControlRequest& request : controls_.Drain()) ApplyControl(request);
}

// Every change is logged with who asked for it, paced (common/Log.h): each
// change made at a person's pace is a line of its own, a flood a few lines a
// second.
void Application::ApplyControl(const ControlRequest& request)
{
    switch (request.kind) {
    case ControlRequest::Kind::SetThreshold:
        threshold_ = level::DbfsToThreshold(request.value);
        if (world_ != nullptr) world_->loudThreshold = threshold_;
        LogPaced(LogLevel::Info, "tuning", PaceKind("threshold", request).c_str(), "threshold %d (%.1f dBFS) %s",
                 threshold_, level::ThresholdToDbfs(threshold_), By(request));
        break;
    case ControlRequest::Kind::SetGain:
        gainDb_ = level::ClampGainDb(request.value);
        LogPaced(LogLevel::Info, "tuning", PaceKind("gain", request).c_str(), "gain %.1f dB %s", gainDb_,
                 By(request));
        break;
    case ControlRequest::Kind::TogglePanel:
    case ControlRequest::Kind::ShowPanel:
        panelVisible_ = request.kind == ControlRequest::Kind::TogglePanel ? !panelVisible_ : request.value != 0;
        LogPaced(LogLevel::Info, "control", PaceKind("panel", request).c_str(), "diagnostics panel %s %s",
                 panelVisible_ ? "shown" : "hidden", By(request));
        break;
    case ControlRequest::Kind::Turn:
        turn_ = request.value < 0 ? -1 : (request.value > 0 ? 1 : 0);
        LogPaced(LogLevel::Info, "control", PaceKind("turn", request).c_str(), "rotate %.2f (%s) %s", request.value,
                 turn_ < 0 ? "turning left" : turn_ > 0 ? "turning right" : "stopped", By(request));
        break;
    case ControlRequest::Kind::Flash: {
        const DWORD now = clock_->Milliseconds();
        if (flashed_ && now - lastFlashMs_ < kMinFlashIntervalMs) {
            ++health_.osc.flashes_skipped;
            LogPaced(LogLevel::Info, "control", PaceKind("flash skipped", request).c_str(),
                     "flash %s skipped: at most %u flashes a second", By(request), 1000u / kMinFlashIntervalMs);
            break;
        }
        flashed_ = true;
        lastFlashMs_ = now;
        // As the crystals' own flash: full white, fading over the next steps.
        FlashAlpha = 255;
        LogPaced(LogLevel::Info, "control", PaceKind("flash", request).c_str(), "flash %s", By(request));
        break;
    }
    case ControlRequest::Kind::Close:
        LogPaced(LogLevel::Info, "control", PaceKind("close", request).c_str(), "close %s", By(request));
        if (options_.calibrate) {
            if (stopReason_.empty()) stopReason_ = request.source.empty() ? "Escape during calibration" : "close " + request.source;
            if (Handle() != nullptr && running_) SendMessageA(Handle(), WM_CLOSE, 0, 0);
        } else {
            closeRequested_ = true;
            closeSource_ = "close " + request.source;
        }
        break;
    }
    if (panelVisible_) EnsureOverlay();
}

bool Application::EnsureOverlay()
{
    if (overlay_.IsReady()) return true;
    if (overlayTried_ || renderDevice_.Device() == nullptr) return false;
    overlayTried_ = true;
    if (!overlay_.Create(renderDevice_.Device(), kPanelFont, kPanelFontPixels, logicalWidth_, logicalHeight_))
        LogWarning("overlay", "cannot create the panel's font texture; panels stay hidden");
    return overlay_.IsReady();
}

bool Application::OverlaysMayShow() const
{
    // An offline video is a document of the scene, as the frames are; live
    // it shows what the screen shows.
    const bool offlineVideo = options_.fast && !options_.video.empty();
    return (options_.framesDir.empty() && !offlineVideo) || options_.framesOverlay;
}

void Application::UpdateProblemClocks()
{
    const DWORD now = clock_->Milliseconds();
    if (stepCount_ == 1) lastBlockMs_ = now;
    const bool trouble = !health_.peer.address.empty() && health_.peer.state != "connected";
    if (trouble && !peerTrouble_) peerTroubleSinceMs_ = now;
    peerTrouble_ = trouble;
    if (options_.showProblems && OverlaysMayShow() && !CurrentProblems().empty()) EnsureOverlay();
}

std::vector<std::string> Application::CurrentProblems() const
{
    std::vector<std::string> problems;
    if (stepCount_ == 0) return problems;
    const DWORD now = clock_->Milliseconds();
    if (now - lastBlockMs_ > kProblemMilliseconds) problems.push_back("no microphone");
    if (peerTrouble_ && (health_.peer.state == "lost" || now - peerTroubleSinceMs_ > kProblemMilliseconds)) {
        std::string host = health_.peer.address.substr(0, health_.peer.address.rfind(':'));
        const bool silent = health_.peer.state == "no pictures";
        problems.push_back("peer " + host + (silent ? " sends no pictures" : " unreachable"));
    }
    return problems;
}

void Application::DrawOverlays(IDirect3DDevice9* device)
{
    if (!OverlaysMayShow() || !overlay_.IsReady()) return;
    const bool panel = panelVisible_;
    std::vector<std::string> problems;
    if (options_.showProblems) problems = CurrentProblems();
    if (!panel) panelLaidOut_ = false;
    if (!panel && problems.empty()) return;
    const float stepSeconds = static_cast<float>(frameInterval_) / 1000.0f;
    if (panel && !panelLaidOut_) {
        // ImGui sizes a new window in its first frame and shows it from the
        // second; a frame built and not drawn lets the key's own step show it.
        overlay_.Begin(stepSeconds);
        BuildDiagnosticsPanel(health_);
        overlay_.End(nullptr);
        panelLaidOut_ = true;
    }
    overlay_.Begin(stepSeconds);
    if (panel) BuildDiagnosticsPanel(health_);
    BuildProblemNotice(problems);
    overlay_.End(device);
}

void Application::CalibrationStep()
{
    CalibrationFigures figures = MeasureCalibration(meter_, threshold_, gainDb_);
    figures.savedTo = calibrationNote_.savedTo;
    figures.saveError = calibrationNote_.saveError;
    if (options_.headless && stepCount_ % kStepsPerSecond == 0) {
        std::printf("%s\n", CalibrationLine(figures).c_str());
        std::fflush(stdout);
    }
    IDirect3DDevice9* device = renderDevice_.Device();
    if (device == nullptr || !EnsureOverlay()) return;
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000u, 1.0f, 0);
    if (SUCCEEDED(device->BeginScene())) {
        overlay_.Begin(static_cast<float>(frameInterval_) / 1000.0f);
        BuildCalibrationMeter(meter_, figures);
        if (panelVisible_) BuildDiagnosticsPanel(health_);
        if (options_.showProblems) BuildProblemNotice(CurrentProblems());
        overlay_.End(device);
        device->EndScene();
    }
    HRESULT presented = device->Present(nullptr, nullptr, nullptr, nullptr);
    if (presented == D3DERR_DEVICELOST && device->TestCooperativeLevel() == D3DERR_DEVICENOTRESET) {
        renderDevice_.ResetDevice();
        renderDevice_.Resize(Handle());
    }
}

void Application::SaveCalibration()
{
    calibrationNote_ = {};
    if (options_.configFile.empty()) {
        calibrationNote_.saveError = "no place for the settings file (HOME is not set; use --config FILE)";
        LogWarning("calibrate", "%s", calibrationNote_.saveError.c_str());
        return;
    }
    std::string error;
    if (SaveInputLevels(options_.configFile, threshold_, gainDb_, error)) {
        calibrationNote_.savedTo = options_.configFile;
        LogPaced(LogLevel::Info, "calibrate", "save", "saved threshold %d (%.1f dBFS) and gain %.1f dB to \"%s\"",
                 threshold_, level::ThresholdToDbfs(threshold_), gainDb_, options_.configFile.c_str());
    } else {
        calibrationNote_.saveError = error;
        LogWarning("calibrate", "%s", error.c_str());
    }
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
    if (MusicPerformance* performance = musicPlayer_.Performance(); performance != nullptr)
        performance->SetEchoListener([video](const MusicWave& wave) { video->Echo(wave); });
    return true;
}

void Application::RecordVideoStep(bool presented)
{
    video_->Step(renderDevice_.Device(), presented);
}

void Application::NoteVideoHealth()
{
    const VideoCounts counts = video_->Counts();
    health_.video.state = counts.state;
    health_.video.file = counts.file;
    health_.video.frames = counts.frames;
    health_.video.dropped = counts.dropped;
}
