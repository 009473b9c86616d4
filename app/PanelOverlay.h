// The operator's panels drawn into the run's frames: the diagnostics panel,
// the problems notice and, when calibrating, the input meter. The font
// texture is made once, the first time a panel is wanted.
#pragma once

#include <string>
#include <vector>

#include "app/Options.h"
#include "operator/Health.h"
#include "operator/InputMeter.h"
#include "operator/OperatorPanels.h"
#include "platform/d3d9/d3d9.h"
#include "render/OverlayRenderer.h"
#include "render/RenderDevice.h"

class PanelOverlay {
public:
    // The options and the device must outlive the overlay; the size is the
    // scene's logical one.
    PanelOverlay(const Options& options, RenderDevice& renderDevice, int logicalWidth, int logicalHeight);

    // Makes the font texture on the first call with a device; false while
    // there is no overlay to draw with.
    bool Ensure();
    // True when the operator's panels may be drawn into this run's frames.
    bool MayShow() const;
    // Over the scene's frame, at its end: the panel when shown, and the problems.
    void Draw(IDirect3DDevice9* device, bool panel, const std::vector<std::string>& problems, const Health& health,
              float stepSeconds);
    // A frame of its own: the meter, and the panel and problems above it.
    void DrawCalibration(IDirect3DDevice9* device, const InputMeter& meter, const CalibrationFigures& figures,
                         const Health* panelHealth, const std::vector<std::string>* problems, float stepSeconds);

private:
    const Options& options_;
    RenderDevice& renderDevice_;
    int logicalWidth_;
    int logicalHeight_;
    OverlayRenderer overlay_;
    bool tried_ = false;
    bool panelLaidOut_ = false;  // the panel has been built once since it was last hidden
};
