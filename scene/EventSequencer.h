// The sequencer of the scene events: it owns the title, the main scene and
// the closing sequence, knows which one is current, and advances it once per
// scene step. Events find each other by name through it.
#pragma once

#include "common/PointerList.h"
#include "scene/Event.h"

class SceneHost;

class EventSequencer : public OwningPointerList<Event> {
public:
    // Adds the title, the main scene and the closing sequence, in this
    // order; the title becomes current. False when an event cannot be made.
    bool Create(SceneHost* application);
    // Lets the current event take one scene step. The event it returns is
    // current from the next step on.
    void Step();
    Event* FindByName(const char* eventName) const;

    Event* Current() const { return current; }
    SceneHost* Application() const { return application; }

private:
    SceneHost* application = nullptr;
    Event* current = nullptr;
};

// The process-wide sequencer, made on first use and destroyed at exit.
EventSequencer& TheEventSequencer();
