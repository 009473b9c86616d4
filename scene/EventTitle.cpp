// The title: white with the title picture, then both fade out together.
#include "scene/EventTitle.h"

#include <algorithm>

#include "crystal/World.h"
#include "render/ScreenFade.h"
#include "scene/EventSequencer.h"
#include "scene/SceneHost.h"
#include "scenery/TitleOverlay.h"

EventTitle::EventTitle(SceneHost* host) : Event(host, "EventTitle") {}

bool EventTitle::Prepare() { return true; }

Event* EventTitle::Update(EventSequencer& sequencer)
{
    if (!MayStep()) return this;

    // The title does not steer or animate: the scene stands still behind it.
    const int n = frameCounter;
    RenderFrame([this, n](IDirect3DDevice9* device) { DrawTitle(device, n); });
    frameCounter = n + 1;

    if (frameCounter <= kLastFrame) {
        if (KeyPressed(VK_ESCAPE)) CloseWindow();
        return this;
    }
    // NOTE: Escape is not looked at on the last title frame; it hands over.
    Event* next = sequencer.FindByName("EventCreate");
    return next != nullptr ? next : this;
}

int EventTitle::FadeAlpha(int n)
{
    float x = (1.0f - static_cast<float>(n - 32) * 0.03125f) * 255.0f;
    x = std::min(x, 255.0f);
    return std::max(static_cast<int>(x), 0);
}

void EventTitle::DrawTitle(IDirect3DDevice9* device, int n)
{
    DrawScene(device);
    device->SetRenderState(D3DRS_FOGENABLE, FALSE);
    const int alpha = FadeAlpha(n);
    World* world = application->GetWorld();
    if (world == nullptr) return;
    if (world->fade) world->fade->DrawGradient(device, alpha);
    if (world->title) world->title->DrawFaded(device, alpha, 1.0f);
}
