// The closing sequence: the scene fades to white over the copyright picture
// in 97 steps, then the main window is closed.
#pragma once

#include "scene/Event.h"

class EventFinish : public Event {
public:
    static constexpr int kLastFrame = 96;

    explicit EventFinish(SceneHost* host);

    bool Prepare() override;
    Event* Update(EventSequencer& sequencer) override;

    // Alpha of the white gradient and of the copyright picture in frame n.
    // They can differ by one: each truncates at its own place.
    static int WhiteAlpha(int n);
    static int PictureAlpha(int n);
    int Frame() const { return frameCounter; }

private:
    void DrawClosing(IDirect3DDevice9* device, int n);

    int frameCounter = 0;
};
