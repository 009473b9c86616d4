#include "app/PanelOverlay.h"

#include "common/Log.h"

namespace {

constexpr const char* kPanelFont = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
constexpr float kPanelFontPixels = 13.0f;

}  // namespace

PanelOverlay::PanelOverlay(const Options& options, RenderDevice& renderDevice, int logicalWidth, int logicalHeight)
    : options_(options), renderDevice_(renderDevice), logicalWidth_(logicalWidth), logicalHeight_(logicalHeight)
{
}

bool PanelOverlay::Ensure()
{
    if (overlay_.IsReady()) return true;
    if (tried_ || renderDevice_.Device() == nullptr) return false;
    tried_ = true;
    if (!overlay_.Create(renderDevice_.Device(), kPanelFont, kPanelFontPixels, logicalWidth_, logicalHeight_))
        LogWarning("overlay", "cannot create the panel's font texture; panels stay hidden");
    return overlay_.IsReady();
}

bool PanelOverlay::MayShow() const
{
    // An offline video is a document of the scene, as the frames are; live
    // it shows what the screen shows.
    const bool offlineVideo = options_.fast && !options_.video.empty();
    return (options_.framesDir.empty() && !offlineVideo) || options_.framesOverlay;
}

void PanelOverlay::Draw(IDirect3DDevice9* device, bool panel, const std::vector<std::string>& problems,
                        const Health& health, float stepSeconds)
{
    if (!overlay_.IsReady()) return;
    if (!panel) panelLaidOut_ = false;
    if (!panel && problems.empty()) return;
    if (panel && !panelLaidOut_) {
        // ImGui sizes a new window in its first frame and shows it from the
        // second; a frame built and not drawn lets the key's own step show it.
        overlay_.Begin(stepSeconds);
        BuildDiagnosticsPanel(health);
        overlay_.End(nullptr);
        panelLaidOut_ = true;
    }
    overlay_.Begin(stepSeconds);
    if (panel) BuildDiagnosticsPanel(health);
    BuildProblemNotice(problems);
    overlay_.End(device);
}

void PanelOverlay::DrawCalibration(IDirect3DDevice9* device, const InputMeter& meter,
                                   const CalibrationFigures& figures, const Health* panelHealth,
                                   const std::vector<std::string>* problems, float stepSeconds)
{
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000u, 1.0f, 0);
    if (SUCCEEDED(device->BeginScene())) {
        overlay_.Begin(stepSeconds);
        BuildCalibrationMeter(meter, figures);
        if (panelHealth != nullptr) BuildDiagnosticsPanel(*panelHealth);
        if (problems != nullptr) BuildProblemNotice(*problems);
        overlay_.End(device);
        device->EndScene();
    }
}
