#include "app/HealthPublisher.h"

#include <ctime>

#include "app/OperatorControls.h"
#include "app/VideoRecording.h"
#include "common/Level.h"
#include "common/Log.h"
#include "crystal/World.h"
#include "net/NetLink.h"
#include "sound/VoiceStore.h"

namespace {

// A problem is shown once it has lasted this long.
constexpr DWORD kProblemMilliseconds = 10000;

std::string LocalTime(std::time_t when)
{
    std::tm local{};
    localtime_r(&when, &local);
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S%z", &local);
    return text;
}

}  // namespace

HealthPublisher::HealthPublisher(const Options& options, const VoiceCapture& capture, const InputMeter& meter,
                                 const OscService& osc, const OperatorControls& controls)
    : capture_(capture), meter_(meter), osc_(osc), controls_(controls), statusFile_(options.statusFile)
{
    health_.started_at = LocalTime(std::time(nullptr));
    health_.threshold = options.threshold;
    health_.gain_db = options.gainDb;
}

void HealthPublisher::NotePeer(const std::string& address)
{
    peerAddress_ = address;
    health_.peer.state = "connecting";
    health_.peer.address = address;
}

void HealthPublisher::Publish(const StepSample& sample, std::uint32_t steps,
                              std::chrono::steady_clock::time_point startedAt, const World* world, NetLink* link,
                              const VideoRecording* video)
{
    auto now = std::chrono::steady_clock::now();
    double seconds = std::chrono::duration<double>(now - startedAt).count();
    pace_.AddStep(sample.stepMilliseconds, seconds);
    health_.steps = steps;
    health_.uptime_s = seconds;
    health_.steps_per_second = pace_.StepsPerSecond(seconds);
    health_.step_ms_p99 = pace_.StepMsP99();
    health_.crystals = sample.crystalsInPhase;
    health_.sparks = sample.liveSparks;
    health_.pictures_in_flight = sample.picturesInFlight;
    health_.microphone.state = VoiceCapture::StateName(capture_.State());
    health_.microphone.device = capture_.DeviceName();
    if (world != nullptr) {
        if (const StoredVoiceInfo* voice = world->LastStoredVoice(); voice != nullptr) {
            health_.last_voice.path = voice->path;
            health_.last_voice.blocks = static_cast<std::uint32_t>(voice->blocks);
            if (voice->unixTime != shownVoiceTime_) {
                health_.last_voice.time = LocalTime(static_cast<std::time_t>(voice->unixTime));
                shownVoiceTime_ = voice->unixTime;
            }
        }
    }
    if (link != nullptr) {
        const LinkStatus status = link->Status();
        // Between tries the link may report no state; the peer is still configured.
        health_.peer.state = status.state == LinkState::None ? "connecting"
                             : status.noPictures             ? "no pictures"
                                                             : LinkStateName(status.state);
        health_.peer.address = status.peer.empty() ? peerAddress_ : status.peer;
        health_.peer.last_contact = status.lastContactSeconds;
        health_.pictures_received = status.picturesReceived;
    }
    health_.threshold = controls_.Threshold();
    health_.gain_db = controls_.GainDb();
    health_.panel_visible = controls_.PanelVisible();
    if (video != nullptr) NoteVideo(*video);
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

void HealthPublisher::NoteVideo(const VideoRecording& video)
{
    const VideoCounts counts = video.Counts();
    health_.video.state = counts.state;
    health_.video.file = counts.file;
    health_.video.frames = counts.frames;
    health_.video.dropped = counts.dropped;
}

void HealthPublisher::UpdateProblemClocks(DWORD nowMs, std::uint32_t steps)
{
    if (steps == 1) lastBlockMs_ = nowMs;
    const bool trouble = !health_.peer.address.empty() && health_.peer.state != "connected";
    if (trouble && !peerTrouble_) peerTroubleSinceMs_ = nowMs;
    peerTrouble_ = trouble;
}

std::vector<std::string> HealthPublisher::CurrentProblems(platform::Clock& clock, std::uint32_t steps) const
{
    std::vector<std::string> problems;
    if (steps == 0) return problems;
    const DWORD now = clock.Milliseconds();
    if (now - lastBlockMs_ > kProblemMilliseconds) problems.push_back("no microphone");
    if (peerTrouble_ && (health_.peer.state == "lost" || now - peerTroubleSinceMs_ > kProblemMilliseconds)) {
        std::string host = health_.peer.address.substr(0, health_.peer.address.rfind(':'));
        const bool silent = health_.peer.state == "no pictures";
        problems.push_back("peer " + host + (silent ? " sends no pictures" : " unreachable"));
    }
    return problems;
}

void HealthPublisher::WriteStopped(const std::string& why)
{
    health_.state = "stopped";
    health_.stop_reason = why;
    health_.stopped_at = LocalTime(std::time(nullptr));
    std::string statusError;
    if (!statusFile_.Write(health_, statusError)) LogWarning("status", "%s", statusError.c_str());
}
