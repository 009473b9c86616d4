// The one object that owns the installation's run. It creates the window,
// the graphics device, the music player, the microphone capture, the network
// link and the three scene singletons, routes window messages to them, and
// hands the frame tick to the step loop: one scene step when more than 50 ms
// have passed since the previous one. The operator's side is in parts of
// its own: the controls, the health publisher and the panels.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/HealthPublisher.h"
#include "app/MainWindow.h"
#include "app/OperatorControls.h"
#include "app/Options.h"
#include "app/PanelOverlay.h"
#include "app/StepLoop.h"
#include "app/VideoRecording.h"
#include "net/DemoPeer.h"
#include "net/NetLink.h"
#include "operator/ControlQueue.h"
#include "operator/FrameSnapshot.h"
#include "operator/Health.h"
#include "operator/InputMeter.h"
#include "operator/OscService.h"
#include "operator/RemoteView.h"
#include "operator/RunStatistics.h"
#include "platform/d3d9/d3d9.h"
#include "platform/sockets/Sockets.h"
#include "platform/system/Clock.h"
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
    World* GetWorld() const override { return parts_.world; }
    IncomingImages* Images() const override { return parts_.images; }
    NetLink* Link() const override { return netLink_.get(); }
    VoiceCapture& Capture() { return voiceCapture_; }
    RenderDevice& Renderer() override { return renderDevice_; }
    MusicPlayer& Music() { return musicPlayer_; }
    MusicPlayer* GetMusicPlayer() override { return &musicPlayer_; }
    const RunStatistics& Statistics() const { return steps_.Statistics(); }
    // The keyboard, with the turn and close requests of ControlQueue folded
    // in as the arrow keys and Escape would be.
    SHORT GetAsyncKeyState(int virtualKey) override { return controls_.FoldKeyState(virtualKey); }
    void DrawOverlays(IDirect3DDevice9* device) override;
    int LogicalWidth() const { return logicalWidth_; }
    int LogicalHeight() const { return logicalHeight_; }
    const std::string& DataFolder() const override { return options_.dataDir; }
    const std::string& FailureReason() const { return failure_; }
    std::uint32_t StepCount() const { return steps_.Count(); }
    // The latest health snapshot, for reporters on any thread.
    HealthBoard& Board() { return health_.Board(); }
    // Requests from keys, OSC and the web view, applied between steps.
    ControlQueue& Controls() { return controls_.Queue(); }
    // The levels in force: from the options, then as requests changed them.
    int Threshold() const { return controls_.Threshold(); }
    double GainDb() const { return controls_.GainDb(); }
    bool PanelVisible() const { return controls_.PanelVisible(); }
    const InputMeter& Meter() const { return meter_; }
    // What the problems notice says now ("no microphone", ...).
    std::vector<std::string> CurrentProblems() const;

    // For tests: replace the clock before the first Tick; choose the
    // graphics backend before Init.
    void SetClock(std::unique_ptr<platform::Clock> clock);
    void SetDirect3DFactory(Direct3DCreate9Function factory) { renderDevice_.SetDirect3DFactory(factory); }
    // Reads the configuration file; false when it does not exist.
    bool ReadPeerAddress(std::string& host, int& port) const;

    void Tick() override;
    LRESULT WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) override;

protected:
    int IdleWaitMilliseconds() override { return steps_.IdleWaitMilliseconds(); }

private:
    bool Fail(const std::string& reason);
    bool StartUp(HINSTANCE instance, int showCommand);
    bool OpenNetworkLink();
    void LogStarted();
    bool StartRemoteView();
    void CopyCaptureBlock(WAVEHDR* header);
    // Why the run ends, for a WM_CLOSE with this lParam (a stop signal's number, or 0).
    std::string CloseReason(LPARAM signal) const;
    // A calibration run ends when asked to (the scene ends its own run).
    void EndCalibration(const std::string& why);
    // --video: the recording and its echo.
    bool StartVideo();

    const Options options_;
    int logicalWidth_ = 640;
    int logicalHeight_ = 480;
    bool running_ = true;
    RenderDevice renderDevice_;
    MusicPlayer musicPlayer_;
    VoiceCapture voiceCapture_;
    // The sockets layer outlives the link that uses it.
    platform::Sockets sockets_;
    std::unique_ptr<DemoPeer> demoPeer_;  // --demo only
    std::unique_ptr<NetLink> netLink_;
    RunParts parts_;

    // NOTE: false only while a capture block is being copied; a capture
    // message that finds it false is passed on unhandled.
    bool captureCopyEnabled_ = true;
    std::unique_ptr<platform::Clock> clock_;
    std::string failure_;
    InputMeter meter_;
    std::vector<std::int16_t> block_;  // the latest block after the gain
    PanelOverlay panels_;
    OperatorControls controls_;
    OscService osc_;  // after controls_: its listener posts there until it stops
    HealthPublisher health_;
    FrameSnapshot remoteFrame_;
    StepLoop steps_;
    // The web view (--http only). Declared after what its threads read, so
    // that it stops before those go.
    std::unique_ptr<RemoteView> remoteView_;
    std::unique_ptr<VideoRecording> video_;  // --video only
};
