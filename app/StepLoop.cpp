#include "app/StepLoop.h"

#include <array>
#include <cstdio>
#include <ctime>

#include "app/VideoRecording.h"
#include "common/Log.h"
#include "crystal/Crystal.h"
#include "crystal/CrystalCluster.h"
#include "crystal/World.h"
#include "platform/system/System.h"
#include "render/FrameWriter.h"
#include "scene/EventSequencer.h"
#include "scene/SceneState.h"
#include "scenery/IncomingImages.h"
#include "scenery/LightSet.h"
#include "sound/RecordingList.h"

namespace {

// In --fast runs every idle pass is one scene step of this much virtual time.
constexpr DWORD kFastStepMilliseconds = 51;
// The headless calibration meter prints once a second.
constexpr std::uint32_t kStepsPerSecond = 20;

}  // namespace

StepLoop::StepLoop(const Options& options, RunParts& parts, StepWindow window, RenderDevice& renderDevice,
                   VoiceCapture& capture, InputMeter& meter, OscService& osc, HealthPublisher& health,
                   OperatorControls& controls, PanelOverlay& panels, FrameSnapshot& remoteFrame,
                   platform::Keyboard& keys)
    : options_(options), parts_(parts), window_(std::move(window)), renderDevice_(renderDevice), capture_(capture),
      meter_(meter), osc_(osc), health_(health), controls_(controls), panels_(panels), remoteFrame_(remoteFrame),
      keys_(keys)
{
    // Long offline renders draw their progress on one line of a terminal.
    showProgress_ = options_.fast && options_.steps != 0 && platform::ErrorOutputIsTerminal();
}

void StepLoop::SetInterval(DWORD milliseconds)
{
    frameInterval_ = milliseconds;
    ticker_.SetInterval(frameInterval_);
}

bool StepLoop::Tick()
{
    DWORD now = parts_.clock->Milliseconds();
    if (!ticker_.StepDue(now)) return false;
    NoteStepCpu();
    ++stepCount_;
    keys_.SetStep(stepCount_);
    // Before the controls: a flash they ask for is one the step shows.
    const int flashAlphaBefore = FlashAlpha;
    controls_.Apply(*parts_.clock, parts_.world, health_.Current());
    health_.UpdateProblemClocks(parts_.clock->Milliseconds(), stepCount_);
    if (options_.showProblems && panels_.MayShow() && !health_.CurrentProblems(*parts_.clock, stepCount_).empty())
        panels_.Ensure();
    IDirect3DDevice9* device = renderDevice_.Device();
    std::uint32_t presentsBefore = device != nullptr ? device->LastFrameStats().presentCount : 0;
    auto start = std::chrono::steady_clock::now();
    inStep_ = true;
    if (options_.calibrate) CalibrationStep();
    else if (parts_.sequencerReady) TheEventSequencer().Step();
    inStep_ = false;
    // Counted in the step's time, so that --stats shows what sending costs.
    if (osc_.Sending()) ReportStepOverOsc(flashAlphaBefore);
    double stepMilliseconds =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    AfterStep(stepMilliseconds, presentsBefore);
    if (!window_.running()) FinishRun();
    return true;
}

int StepLoop::IdleWaitMilliseconds()
{
    if (parts_.fastClock != nullptr) {
        parts_.fastClock->Advance(kFastStepMilliseconds);
        return 0;
    }
    return static_cast<int>(ticker_.MillisecondsUntilDue(parts_.clock->Milliseconds()));
}

void StepLoop::NoteStopReason(const std::string& why)
{
    if (stopReason_.empty()) stopReason_ = why;
}

void StepLoop::NoteStepCpu()
{
    const std::clock_t now = std::clock();
    if (now == static_cast<std::clock_t>(-1)) return;
    const double milliseconds = 1000.0 * static_cast<double>(now) / CLOCKS_PER_SEC;
    if (stepCpuStart_ >= 0) statistics_.AddStepCpu(milliseconds - stepCpuStart_);
    stepCpuStart_ = milliseconds;
}

void StepLoop::CalibrationStep()
{
    CalibrationFigures figures = MeasureCalibration(meter_, controls_.Threshold(), controls_.GainDb());
    figures.savedTo = controls_.CalibrationNote().savedTo;
    figures.saveError = controls_.CalibrationNote().saveError;
    if (options_.headless && stepCount_ % kStepsPerSecond == 0) {
        std::printf("%s\n", CalibrationLine(figures).c_str());
        std::fflush(stdout);
    }
    IDirect3DDevice9* device = renderDevice_.Device();
    if (device == nullptr || !panels_.Ensure()) return;
    std::vector<std::string> problems;
    if (options_.showProblems) problems = health_.CurrentProblems(*parts_.clock, stepCount_);
    panels_.DrawCalibration(device, meter_, figures, controls_.PanelVisible() ? &health_.Current() : nullptr,
                            options_.showProblems ? &problems : nullptr, static_cast<float>(frameInterval_) / 1000.0f);
    HRESULT presented = device->Present(nullptr, nullptr, nullptr, nullptr);
    if (presented == D3DERR_DEVICELOST && device->TestCooperativeLevel() == D3DERR_DEVICENOTRESET) {
        renderDevice_.ResetDevice();
        renderDevice_.Resize(window_.handle());
    }
}

void StepLoop::ReportStepOverOsc(int flashAlphaBefore)
{
    // The reporter knows phases by their place in the health report's names.
    static_assert(Recording == 1 && Revealing == 2 && Resting + 1 == Health::kPhaseNames.size());
    std::array<std::int32_t, CrystalCluster::Count> phases{};
    OscStepView view;
    view.steps = stepCount_;
    view.clockMs = parts_.clock->Milliseconds();
    World* world = parts_.world;
    if (world != nullptr && world->crystals) {
        for (int k = 0; k < CrystalCluster::Count; ++k) {
            const auto& crystal = world->crystals->crystals[k];
            phases[static_cast<std::size_t>(k)] = crystal ? crystal->phase : Listening;
        }
        view.phases = phases.data();
        view.crystals = phases.size();
    }
    if (world != nullptr && world->recordingList)
        view.recordedBlocks = static_cast<std::uint32_t>(world->recordingList->Count());
    view.flashAlphaBefore = flashAlphaBefore;
    view.flashAlphaAfter = FlashAlpha;
    if (parts_.images != nullptr) view.flightsStarted = parts_.images->FlightsStarted();
    osc_.AfterStep(view);
}

StepSample StepLoop::Sample(double stepMilliseconds, std::uint32_t presentsBefore) const
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
        sample.uploadBytes = frame.uploadBytes;
        sample.textureBinds = frame.textureBinds;
        sample.stateCalls = frame.stateCalls;
    }
    if (const World* world = parts_.world; world != nullptr) {
        if (world->lights) sample.liveSparks = static_cast<std::uint32_t>(world->lights->LiveCount());
        if (world->crystals)
            for (const auto& crystal : world->crystals->crystals)
                if (crystal && crystal->phase >= Listening && crystal->phase <= Resting)
                    ++sample.crystalsInPhase[static_cast<std::size_t>(crystal->phase)];
    }
    if (parts_.images != nullptr) sample.picturesInFlight = static_cast<std::uint32_t>(parts_.images->InFlight());
    return sample;
}

void StepLoop::AfterStep(double stepMilliseconds, std::uint32_t presentsBefore)
{
    // A voice stored on the store's thread becomes the segment here, between steps.
    if (parts_.world != nullptr) {
        // Offline, a recording's echo starts in the step that stored the
        // voice, not whenever the store's thread is done.
        if (parts_.video != nullptr && parts_.fastClock != nullptr) parts_.world->FinishVoiceStore();
        else parts_.world->CollectStoredVoice();
    }
    const StepSample sample = Sample(stepMilliseconds, presentsBefore);
    statistics_.AddStep(sample, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - startedAt_).count());
    if (parts_.video != nullptr) parts_.video->Step(renderDevice_.Device(), sample.presented);
    health_.Publish(sample, stepCount_, startedAt_, parts_.world, parts_.link, parts_.video);
    if (sample.presented) {
        WriteFrameIfDue();
        OfferRemoteFrameIfDue();
    }

    if (parts_.fastClock != nullptr) capture_.Poll();
    if (showProgress_ && (stepCount_ % 10 == 0 || stepCount_ == options_.steps))
        std::fprintf(stderr, "\rsolvane: step %u of %u", stepCount_, options_.steps);
    if (options_.steps != 0 && stepCount_ >= options_.steps && WindowOpen()) {
        NoteStopReason("--steps " + std::to_string(options_.steps) + " reached");
        SendMessageA(window_.handle(), WM_CLOSE, 0, 0);
    }
}

void StepLoop::WriteFrameIfDue()
{
    if (options_.framesDir.empty() || stepCount_ % options_.frameEvery != 0) return;
    char name[32];
    std::snprintf(name, sizeof name, "/frame-%06u.png", stepCount_);
    if (WriteFrame(renderDevice_.Device(), options_.framesDir + name)) statistics_.AddFrameWritten();
    else LogLine("frames", "cannot write \"%s%s\"", options_.framesDir.c_str(), name);
}

// The web view's picture: read back on this thread (the device is this
// thread's), at most once a second; the server encodes it on its own.
void StepLoop::OfferRemoteFrameIfDue()
{
    if (!parts_.remoteView || renderDevice_.Device() == nullptr) return;
    auto now = FrameSnapshot::Clock::now();
    if (!remoteFrame_.Due(now)) return;
    std::vector<std::uint8_t> rgb;
    UINT width = 0, height = 0;
    if (!renderDevice_.Device()->ReadBackBuffer(rgb, width, height)) width = height = 0;
    remoteFrame_.Offer(std::move(rgb), width, height, now);
}

void StepLoop::FinishRun()
{
    if (finished_ || stepCount_ == 0) return;
    finished_ = true;
    NoteStepCpu();
    double uptime = std::chrono::duration<double>(std::chrono::steady_clock::now() - startedAt_).count();
    std::string why = stopReason_.empty() ? "the window was closed" : stopReason_;
    health_.NoteStopping(why);
    if (parts_.video != nullptr) {
        parts_.video->Finish();
        health_.NoteVideo(*parts_.video);
    }
    health_.WriteStopped(why);
    FlushLogRepeats(true);
    LogLine("", "stopped: %s, up %.1f s, %u steps", why.c_str(), uptime, stepCount_);
    if (showProgress_) std::fputc('\n', stderr);
    if (!options_.statsFile.empty()) {
        std::string error;
        if (!statistics_.WriteJson(options_.statsFile, error)) LogLine("stats", "%s", error.c_str());
        LogLine("stats", "%s", statistics_.SummaryLine().c_str());
    }
}
