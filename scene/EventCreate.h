// The main scene: the crystals grow from the voices and turn with the arrow
// keys; Escape hands over to the closing sequence.
#pragma once

#include "scene/Event.h"

class EventCreate : public Event {
public:
    explicit EventCreate(SceneHost* host);

    bool Prepare() override;
    Event* Update(EventSequencer& sequencer) override;
};
