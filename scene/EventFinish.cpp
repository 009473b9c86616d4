// The closing sequence: white and the copyright picture rise together, then
// the window is closed.
#include "scene/EventFinish.h"

#include <algorithm>

#include "crystal/World.h"
#include "render/ScreenFade.h"
#include "scene/EventSequencer.h"
#include "scene/SceneHost.h"
#include "scenery/CopyrightOverlay.h"

namespace {

// The white's complement in frame n, kept as a float like the alphas derive from it.
float Remaining(int n) { return (1.0f - static_cast<float>(n) * 0.010416667f) * 255.0f; }

int ClampAlpha(int alpha) { return std::clamp(alpha, 0, 255); }

}  // namespace

EventFinish::EventFinish(SceneHost* host) : Event(host, "EventFinish") {}

bool EventFinish::Prepare() { return true; }

Event* EventFinish::Update(EventSequencer&)
{
    if (!MayStep()) return this;

    // Escape is not looked at any more: the closing sequence always runs out.
    SteerAndAnimate();
    const int n = frameCounter;
    RenderFrame([this, n](IDirect3DDevice9* device) { DrawClosing(device, n); });
    frameCounter = n + 1;
    if (frameCounter > kLastFrame) CloseWindow();
    return this;
}

// NOTE: the two alphas truncate at different places (before and after the
// subtraction), so they can differ by one; both end at 255 in frame 96. The
// clamp only matters if the window outlives its close request.
int EventFinish::WhiteAlpha(int n) { return ClampAlpha(255 - static_cast<int>(Remaining(n))); }

int EventFinish::PictureAlpha(int n) { return ClampAlpha(static_cast<int>(255.0f - Remaining(n))); }

void EventFinish::DrawClosing(IDirect3DDevice9* device, int n)
{
    DrawScene(device);
    device->SetRenderState(D3DRS_FOGENABLE, FALSE);
    World* world = application->GetWorld();
    if (world == nullptr) return;
    if (world->fade) world->fade->DrawGradient(device, WhiteAlpha(n));
    if (world->copyright) world->copyright->DrawFaded(device, PictureAlpha(n));
}
