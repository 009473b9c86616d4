// The run's health as the operator layer sees it: the snapshot filled after
// every step and published to the board (the web view, OSC and the panels
// read it), the status file, the service manager's notices, and the
// problems the notice on the screen names.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "app/Options.h"
#include "operator/Health.h"
#include "operator/InputMeter.h"
#include "operator/OscService.h"
#include "operator/RunStatistics.h"
#include "operator/ServiceNotifier.h"
#include "operator/StatusFile.h"
#include "operator/StepPace.h"
#include "platform/system/Clock.h"
#include "sound/VoiceCapture.h"

class NetLink;
class OperatorControls;
class VideoRecording;
class World;

class HealthPublisher {
public:
    // What it reads must outlive it.
    HealthPublisher(const Options& options, const VoiceCapture& capture, const InputMeter& meter,
                    const OscService& osc, const OperatorControls& controls);

    // The snapshot as the step loop filled it so far.
    Health& Current() { return health_; }
    const Health& Current() const { return health_; }
    // The latest published snapshot, for reporters on any thread.
    HealthBoard& Board() { return board_; }
    const StatusFile& Status() const { return statusFile_; }

    // The link to the peer at host:port was opened.
    void NotePeer(const std::string& address);
    // A microphone block arrived at this clock time.
    void NoteBlock(DWORD nowMs) { lastBlockMs_ = nowMs; }
    // Publishes the snapshot as it stands (before the first step).
    void PublishNow() { board_.Publish(health_); }
    // After a step: fills the snapshot, publishes it, writes the status file
    // when due and tells the service manager.
    void Publish(const StepSample& sample, std::uint32_t steps, std::chrono::steady_clock::time_point startedAt,
                 const World* world, NetLink* link, const VideoRecording* video);
    // The --video figures.
    void NoteVideo(const VideoRecording& video);
    // Before a step: when the problems began.
    void UpdateProblemClocks(DWORD nowMs, std::uint32_t steps);
    // What the problems notice says now ("no microphone", ...).
    std::vector<std::string> CurrentProblems(platform::Clock& clock, std::uint32_t steps) const;
    // The run ends: the service manager is told why.
    void NoteStopping(const std::string& why) { notifier_.Stopping(why); }
    // The last snapshot, so that the status file shows where the run ended and why.
    void WriteStopped(const std::string& why);

private:
    const VoiceCapture& capture_;
    const InputMeter& meter_;
    const OscService& osc_;
    const OperatorControls& controls_;
    Health health_;
    // The stored voice whose time health_.last_voice shows: the time is
    // formatted when a new voice is stored, not every step.
    std::int64_t shownVoiceTime_ = -1;
    HealthBoard board_;
    StepPace pace_;
    StatusFile statusFile_;
    ServiceNotifier notifier_ = ServiceNotifier::ForThisProcess();
    std::string peerAddress_;          // host:port of the configured peer, empty without one
    DWORD lastBlockMs_ = 0;            // clock time of the latest captured block
    DWORD peerTroubleSinceMs_ = 0;
    bool peerTrouble_ = false;
};
