// The step loop: one scene step (or, when calibrating, one frame of the
// meter) when more than the frame interval has passed on the clock, with
// the operator's requests applied before it and, after it, the voice
// collected, the step's figures counted, the health published and the
// frame written, offered to the web view and recorded. Ends the run with
// its summary.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "app/FrameTicker.h"
#include "app/HealthPublisher.h"
#include "app/OperatorControls.h"
#include "app/Options.h"
#include "app/PanelOverlay.h"
#include "operator/FrameSnapshot.h"
#include "operator/InputMeter.h"
#include "operator/OscService.h"
#include "operator/RunStatistics.h"
#include "platform/system/Clock.h"
#include "platform/system/Keyboard.h"
#include "render/RenderDevice.h"
#include "sound/VoiceCapture.h"

class IncomingImages;
class NetLink;
class VideoRecording;
class World;

// What start-up made that the loop steps; null (or false) until it is
// there, and again once it is gone.
struct RunParts {
    World* world = nullptr;
    IncomingImages* images = nullptr;
    NetLink* link = nullptr;
    VideoRecording* video = nullptr;  // --video only
    bool sequencerReady = false;
    bool remoteView = false;          // --http: the web view wants pictures
    platform::Clock* clock = nullptr;
    platform::ManualClock* fastClock = nullptr;  // the clock itself when running --fast
};

// What the loop asks of the window that owns the run.
struct StepWindow {
    std::function<HWND()> handle;
    std::function<bool()> running;  // not torn down yet
};

class StepLoop {
public:
    // What it is given must outlive it.
    StepLoop(const Options& options, RunParts& parts, StepWindow window, RenderDevice& renderDevice,
             VoiceCapture& capture, InputMeter& meter, OscService& osc, HealthPublisher& health,
             OperatorControls& controls, PanelOverlay& panels, FrameSnapshot& remoteFrame, platform::Keyboard& keys);

    void SetInterval(DWORD milliseconds);
    DWORD Interval() const { return frameInterval_; }
    // One step when one is due; true when it ran.
    bool Tick();
    // How long an idle pass may sleep (a --fast run moves its clock on instead).
    int IdleWaitMilliseconds();
    // The run's summary: the status file, the log line, --stats. Once only,
    // and only after a step.
    void FinishRun();
    // The first reason the run was told to end wins.
    void NoteStopReason(const std::string& why);

    // The scene's step is running (it may close the window).
    bool InStep() const { return inStep_; }
    std::uint32_t Count() const { return stepCount_; }
    const RunStatistics& Statistics() const { return statistics_; }

private:
    // Hands the CPU time since the last step's start to the statistics.
    void NoteStepCpu();
    void CalibrationStep();
    void ReportStepOverOsc(int flashAlphaBefore);
    void AfterStep(double stepMilliseconds, std::uint32_t presentsBefore);
    StepSample Sample(double stepMilliseconds, std::uint32_t presentsBefore) const;
    void WriteFrameIfDue();
    void OfferRemoteFrameIfDue();
    bool WindowOpen() const { return window_.handle() != nullptr && window_.running(); }

    const Options& options_;
    RunParts& parts_;
    StepWindow window_;
    RenderDevice& renderDevice_;
    VoiceCapture& capture_;
    InputMeter& meter_;
    OscService& osc_;
    HealthPublisher& health_;
    OperatorControls& controls_;
    PanelOverlay& panels_;
    FrameSnapshot& remoteFrame_;
    platform::Keyboard& keys_;

    DWORD frameInterval_ = 50;
    FrameTicker ticker_;
    std::uint32_t stepCount_ = 0;
    RunStatistics statistics_;
    // Process CPU time at the start of the last step (std::clock), or -1:
    // a step's CPU runs to the next step's start, so that the renderer's
    // threads finishing its frame count for it.
    double stepCpuStart_ = -1;
    std::chrono::steady_clock::time_point startedAt_ = std::chrono::steady_clock::now();
    bool finished_ = false;
    bool showProgress_ = false;
    bool inStep_ = false;
    std::string stopReason_;
};
