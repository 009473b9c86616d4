// The base of the three scene events (title, main scene, closing sequence).
//
// The sequencer calls the current event's Update once per scene step; it
// polls the keys, advances the animation, renders and presents one frame and
// returns the event that is current next. The steps every event shares live
// here: steering and animation, the frame skeleton with the device-loss
// recovery, and the drawing of the common scene.
#pragma once

#include <functional>

#include "common/NonCopyable.h"
#include "platform/d3d9/d3d9.h"

class EventSequencer;
class SceneHost;

class Event : NonCopyable {
public:
    static constexpr int kNameSize = 64;

    Event(SceneHost* application, const char* name);
    virtual ~Event();

    virtual bool Prepare() = 0;
    // Returns this event to stay current, or another one to hand over to.
    virtual Event* Update(EventSequencer& sequencer) = 0;

    const char* Name() const { return name; }

protected:
    using DrawingStep = std::function<void(IDirect3DDevice9* device)>;

    // False after teardown or while the window is inactive: nothing may happen.
    bool MayStep() const;
    bool KeyPressed(int virtualKey) const;
    // Sends WM_CLOSE to the main window; the program ends through it.
    void CloseWindow() const;

    void SteerAndAnimate();
    // Clear, draw (when the scene can begin), present, recover a lost device.
    void RenderFrame(const DrawingStep& drawing);
    void DrawScene(IDirect3DDevice9* device);

    SceneHost* application;
    char name[kNameSize];
};
