// The main scene: steer, animate and draw; Escape starts the closing sequence.
#include "scene/EventCreate.h"

#include "scene/EventSequencer.h"

EventCreate::EventCreate(SceneHost* host) : Event(host, "EventCreate") {}

bool EventCreate::Prepare() { return true; }

Event* EventCreate::Update(EventSequencer& sequencer)
{
    if (!MayStep()) return this;

    SteerAndAnimate();
    RenderFrame([this](IDirect3DDevice9* device) { DrawScene(device); });

    if (KeyPressed(VK_ESCAPE)) {
        Event* next = sequencer.FindByName("EventFinish");
        return next != nullptr ? next : this;
    }
    return this;
}
