// The one object that owns the installation's run. It creates the window,
// the graphics device, the music player, the microphone capture, the network
// link and the three scene singletons, routes window messages to them, and
// paces the scene with the frame tick: one scene step when more than 50 ms
// have passed since the previous one.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "app/ControlQueue.h"
#include "app/FrameTicker.h"
#include "app/Health.h"
#include "app/MainWindow.h"
#include "app/Options.h"
#include "app/OscService.h"
#include "platform/Clock.h"
#include "net/DemoPeer.h"
#include "net/NetLink.h"
#include "platform/Sockets.h"
#include "platform/d3d9.h"
#include "app/RunStatistics.h"
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
    SHORT GetAsyncKeyState(int virtualKey) override { return Keys().GetAsyncKeyState(virtualKey); }
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
    void ApplyControls();
    void ReportStepOverOsc(int flashAlphaBefore);
    void AfterStep(double stepMilliseconds, std::uint32_t presentsBefore);
    void PublishHealth(const StepSample& sample);
    void WriteFrameIfDue();
    void FinishRun();
    void CopyCaptureBlock(WAVEHDR* header);

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
    std::chrono::steady_clock::time_point startedAt_ = std::chrono::steady_clock::now();
    bool finished_ = false;
    bool showProgress_ = false;
    Health health_;         // filled by the step loop, published to board_ once per step
    HealthBoard board_;
    ControlQueue controls_;
    OscService osc_;  // after controls_: its listener posts there until it stops
};
