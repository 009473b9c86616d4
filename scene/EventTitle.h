// The opening event: the title picture on white for 33 steps, then both fade
// away over 32 steps, 65 steps in all; Escape during it closes the program.
#pragma once

#include "scene/Event.h"

class EventTitle : public Event {
public:
    static constexpr int kLastFrame = 64;

    explicit EventTitle(SceneHost* host);

    bool Prepare() override;
    Event* Update(EventSequencer& sequencer) override;

    // Alpha of the white backdrop and of the title in frame n.
    static int FadeAlpha(int n);
    int Frame() const { return frameCounter; }

private:
    void DrawTitle(IDirect3DDevice9* device, int n);

    int frameCounter = 0;
};
