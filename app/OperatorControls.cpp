#include "app/OperatorControls.h"

#include "app/Settings.h"
#include "common/Level.h"
#include "common/Log.h"
#include "crystal/World.h"
#include "scene/SceneState.h"

namespace {

// Flashes asked for from outside come at most this often: enough for a show
// on the beat, well below the three a second that can harm people with
// photosensitive epilepsy.
constexpr DWORD kMinFlashIntervalMs = 500;

// Who asked for a change, as its log line ends.
const char* By(const ControlRequest& request) { return request.source.empty() ? "by key" : request.source.c_str(); }

// The kind of a paced line (common/Log.h): the change and the way it came,
// so that a flood from one sender never sums up a change made by hand.
std::string PaceKind(const char* change, const ControlRequest& request)
{
    return std::string(change) + " " + request.source.substr(0, request.source.find(" from"));
}

}  // namespace

OperatorControls::OperatorControls(const Options& options, platform::Keyboard& keys, PanelOverlay& overlay,
                                   EndRun endRun)
    : options_(options), keys_(keys), overlay_(overlay), endRun_(std::move(endRun)), threshold_(options.threshold),
      gainDb_(options.gainDb)
{
}

SHORT OperatorControls::FoldKeyState(int virtualKey)
{
    SHORT state = keys_.GetAsyncKeyState(virtualKey);
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

bool OperatorControls::KeyWentDown(int virtualKey)
{
    const bool down = keys_.GetAsyncKeyState(virtualKey) != 0;
    const bool wentDown = down && !keyWasDown_[static_cast<std::size_t>(virtualKey)];
    keyWasDown_[static_cast<std::size_t>(virtualKey)] = down;
    return wentDown;
}

void OperatorControls::PostKeyRequests()
{
    if (KeyWentDown(VK_F1)) queue_.Post({ControlRequest::Kind::TogglePanel, 0});
    if (!options_.calibrate) return;
    // The scene is not running: the arrows and Escape belong to the meter.
    if (KeyWentDown(VK_UP))
        queue_.Post({ControlRequest::Kind::SetThreshold, level::ThresholdToDbfs(threshold_) + 1.0});
    if (KeyWentDown(VK_DOWN))
        queue_.Post({ControlRequest::Kind::SetThreshold, level::ThresholdToDbfs(threshold_) - 1.0});
    if (KeyWentDown(VK_RIGHT)) queue_.Post({ControlRequest::Kind::SetGain, gainDb_ + 1.0});
    if (KeyWentDown(VK_LEFT)) queue_.Post({ControlRequest::Kind::SetGain, gainDb_ - 1.0});
    if (KeyWentDown(VK_ESCAPE)) queue_.Post({ControlRequest::Kind::Close, 0});
    if (KeyWentDown(VK_S)) SaveCalibration();
}

void OperatorControls::Apply(platform::Clock& clock, World* world, Health& health)
{
    PostKeyRequests();
    for (const ControlRequest& request : queue_.Drain()) ApplyOne(request, clock, world, health);
}

// Every change is logged with who asked for it, paced (common/Log.h): each
// change made at a person's pace is a line of its own, a flood a few lines a
// second.
void OperatorControls::ApplyOne(const ControlRequest& request, platform::Clock& clock, World* world, Health& health)
{
    switch (request.kind) {
    case ControlRequest::Kind::SetThreshold:
        threshold_ = level::DbfsToThreshold(request.value);
        if (world != nullptr) world->loudThreshold = threshold_;
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
        const DWORD now = clock.Milliseconds();
        if (flashed_ && now - lastFlashMs_ < kMinFlashIntervalMs) {
            ++health.osc.flashes_skipped;
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
            endRun_(request.source.empty() ? "Escape during calibration" : "close " + request.source);
        } else {
            closeRequested_ = true;
            closeSource_ = "close " + request.source;
        }
        break;
    }
    if (panelVisible_) overlay_.Ensure();
}

void OperatorControls::SaveCalibration()
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
