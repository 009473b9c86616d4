// The one object that owns the installation's run. It creates the window,
// the graphics device, the music player, the microphone capture, the network
// link and the three scene singletons, routes window messages to them, and
// paces the scene with the frame tick: one scene step when more than 50 ms
// have passed since the previous one.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/FrameTicker.h"
#include "app/MainWindow.h"
#include "app/Options.h"
#include "app/VideoRecording.h"
#include "net/DemoPeer.h"
#include "net/NetLink.h"
#include "operator/ControlQueue.h"
#include "operator/FrameSnapshot.h"
#include "operator/Health.h"
#include "operator/InputMeter.h"
#include "operator/OperatorPanels.h"
#include "operator/OscService.h"
#include "operator/RemoteView.h"
#include "operator/RunStatistics.h"
#include "operator/ServiceNotifier.h"
#include "operator/StatusFile.h"
#include "operator/StepPace.h"
#include "platform/d3d9/d3d9.h"
#include "platform/sockets/Sockets.h"
#include "platform/system/Clock.h"
#include "render/OverlayRenderer.h"
#include "render/RenderDevice.h"
#include "scene/SceneHost.h"
#include "sound/MusicPlayer.h"
#include "sound/VoiceCapture.h"


class Application : public MainWindow, public SceneHost {
public:
    explicit Application(const Options& options);
    ~Application() override;

    // The whole start-up; false means it failed and FailureReason() says why.
    bool Init(HINSTANCE instance, int showCommand);
    // Releases the network link, the world's content and the music player.
    // Safe to call more than once.
    void Teardown();

    // What the scene events and the world reach.
    bool IsRunning() const override { return running_; }
    bool IsActive() const override { return MainWindow::IsActive(); }
    HWND Handle() const override { return MainWindow::Handle(); }
    World* GetWorld() const override { return world_; }
    IncomingImages* Images() const override { return incomingImages_; }
    NetLink* Link() const override { return netLink_.get(); }
    VoiceCapture& Capture() { return voiceCapture_; }
    RenderDevice& Renderer() override { return renderDevice_; }
    MusicPlayer& Music() { return musicPlayer_; }
    MusicPlayer* GetMusicPlayer() override { return &musicPlayer_; }
    const RunStatistics& Statistics() const { return statistics_; }
    // The keyboard, with the turn and close requests of ControlQueue folded
    // in as the arrow keys and Escape would be.
    SHORT GetAsyncKeyState(int virtualKey) override;
    void DrawOverlays(IDirect3DDevice9* device) override;
    int LogicalWidth() const { return logicalWidth_; }
    int LogicalHeight() const { return logicalHeight_; }
    const Options& GetOptions() const { return options_; }
    const std::string& DataFolder() const override { return options_.dataDir; }
    const std::string& FailureReason() const { return failure_; }
    std::uint32_t StepCount() const { return stepCount_; }
    // The latest health snapshot, for reporters on any thread.
    HealthBoard& Board() { return board_; }
    // Requests from keys, OSC and the web view, applied between steps.
    ControlQueue& Controls() { return controls_; }
    const OscService& Osc() const { return osc_; }
    // The levels in force: from the options, then as requests changed them.
    int Threshold() const { return threshold_; }
    double GainDb() const { return gainDb_; }
    bool PanelVisible() const { return panelVisible_; }
    const InputMeter& Meter() const { return meter_; }
    // What the problems notice says now ("no microphone", ...).
    std::vector<std::string> CurrentProblems() const;

    // For tests: replace the clock before the first Tick; choose the
    // graphics backend before Init.
    void SetClock(std::unique_ptr<platform::Clock> clock) { clock_ = std::move(clock); }
    void SetDirect3DFactory(Direct3DCreate9Function factory) { renderDevice_.SetDirect3DFactory(factory); }
    // Reads the configuration file; false when it does not exist.
    bool ReadPeerAddress(std::string& host, int& port) const;

    void Tick() override;
    LRESULT WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) override;

protected:
    int IdleWaitMilliseconds() override;

private:
    bool Fail(const std::string& reason);
    bool StartUp(HINSTANCE instance, int showCommand);
    bool OpenNetworkLink();
    // Hands the CPU time since the last step's start to the statistics.
    void NoteStepCpu();
    void ReportStepOverOsc(int flashAlphaBefore);
    void AfterStep(double stepMilliseconds, std::uint32_t presentsBefore);
    void PublishHealth(const StepSample& sample);
    void LogStarted();
    void WriteFrameIfDue();
    bool StartRemoteView();
    void OfferRemoteFrameIfDue();
    void FinishRun();
    void CopyCaptureBlock(WAVEHDR* header);
    // Between steps: the operator's keys become requests, then every
    // request posted since the last step is applied.
    void ApplyControls();
    void ApplyControl(const ControlRequest& request);
    void PostKeyRequests();
    // Why the run ends, for a WM_CLOSE with this lParam (a stop signal's number, or 0).
    std::string CloseReason(LPARAM signal) const;
    bool KeyWentDown(int virtualKey);
    bool EnsureOverlay();
    // True when the operator's panels may be drawn into this run's frames.
    bool OverlaysMayShow() const;
    void CalibrationStep();
    void SaveCalibration();
    void UpdateProblemClocks();
    // --video: start, one step, its figures in the health snapshot.
    bool StartVideo();
    void RecordVideoStep(bool presented);
    void NoteVideoHealth();

    const Options options_;
    int logicalWidth_ = 640;
    int logicalHeight_ = 480;
    bool running_ = true;
    DWORD frameInterval_ = 50;
    RenderDevice renderDevice_;
    MusicPlayer musicPlayer_;
    VoiceCapture voiceCapture_;
    // The sockets layer outlives the link that uses it.
    platform::Sockets sockets_;
    std::unique_ptr<DemoPeer> demoPeer_;  // --demo only
    std::unique_ptr<NetLink> netLink_;
    World* world_ = nullptr;
    IncomingImages* incomingImages_ = nullptr;

    // NOTE: false only while a capture block is being copied; a capture
    // message that finds it false is passed on unhandled.
    bool captureCopyEnabled_ = true;
    FrameTicker ticker_;
    std::unique_ptr<platform::Clock> clock_;
    platform::ManualClock* fastClock_ = nullptr;  // the clock itself when running --fast
    bool sequencerReady_ = false;
    std::uint32_t stepCount_ = 0;
    std::string failure_;
    RunStatistics statistics_;
    // Process CPU time at the start of the last step (std::clock), or -1:
    // a step's CPU runs to the next step's start, so that the renderer's
    // threads finishing its frame count for it.
    double stepCpuStart_ = -1;
    std::chrono::steady_clock::time_point startedAt_ = std::chrono::steady_clock::now();
    bool finished_ = false;
    bool showProgress_ = false;
    Health health_;         // filled by the step loop, published to board_ once per step
    // The stored voice whose time health_.last_voice shows: the time is
    // formatted when a new voice is stored, not every step.
    std::int64_t shownVoiceTime_ = -1;
    HealthBoard board_;
    StepPace pace_;
    StatusFile statusFile_;
    ServiceNotifier notifier_ = ServiceNotifier::ForThisProcess();
    bool inStep_ = false;      // the scene's step is running (it may close the window)
    std::string stopReason_;   // the first reason the run was told to end
    ControlQueue controls_;
    OscService osc_;  // after controls_: its listener posts there until it stops
    // The web view (--http only). Declared after what its threads read, so
    // that it stops before those go.
    FrameSnapshot remoteFrame_;
    std::unique_ptr<RemoteView> remoteView_;

    // Tuning and the operator's panels.
    int threshold_ = 4000;
    double gainDb_ = 0;
    InputMeter meter_;
    std::vector<std::int16_t> block_;  // the latest block after the gain
    OverlayRenderer overlay_;
    bool overlayTried_ = false;
    bool panelVisible_ = false;
    bool panelLaidOut_ = false;        // the panel has been built once since it was last hidden
    int turn_ = 0;                     // -1 left, 1 right, as held arrow keys
    bool closeRequested_ = false;      // an Escape press not yet seen by the scene
    std::string closeSource_;          // who asked for that close ("close by OSC from ...")
    std::string closeCause_;           // what started the scene's close: "Escape", or closeSource_
    bool flashed_ = false;             // a flash was asked for since the start
    DWORD lastFlashMs_ = 0;            // clock time of that flash
    std::array<bool, 256> keyWasDown_{};
    DWORD lastBlockMs_ = 0;            // clock time of the latest captured block
    DWORD peerTroubleSinceMs_ = 0;
    std::string peerAddress_;          // host:port of the configured peer, empty without one
    bool peerTrouble_ = false;
    CalibrationFigures calibrationNote_;  // what S last reported
    std::unique_ptr<VideoRecording> video_;  // --video only
};
