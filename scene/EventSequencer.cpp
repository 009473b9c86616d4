// Event ownership and hand-over between the scene events.
#include "scene/EventSequencer.h"

#include <cstring>
#include <memory>
#include <utility>

#include "scene/EventCreate.h"
#include "scene/EventFinish.h"
#include "scene/EventTitle.h"

namespace {

template <typename EventClass>
bool AddEvent(EventSequencer& sequencer, SceneHost* application, Event*& added)
{
    auto event = std::make_unique<EventClass>(application);
    if (!event->Prepare()) return false;
    added = event.get();
    sequencer.Add(std::move(event));
    return true;
}

}  // namespace

bool EventSequencer::Create(SceneHost* host)
{
    // NOTE: the sequencer outlives the program that made its events. A second
    // program in the same process (the tests make many) replaces the events of
    // the first, whose host is gone, instead of finding them by name later.
    Clear();
    current = nullptr;
    application = host;
    Event* title = nullptr;
    Event* added = nullptr;
    if (!AddEvent<EventTitle>(*this, host, title)) return false;
    current = title;
    if (!AddEvent<EventCreate>(*this, host, added)) return false;
    if (!AddEvent<EventFinish>(*this, host, added)) return false;
    return true;
}

void EventSequencer::Step()
{
    // Only ever called after a successful Create; the guard keeps a misuse harmless.
    if (current == nullptr) return;
    current = current->Update(*this);
}

Event* EventSequencer::FindByName(const char* eventName) const
{
    if (eventName == nullptr) return nullptr;
    for (const auto& event : *this)
        if (std::strcmp(event->Name(), eventName) == 0) return event.get();
    return nullptr;
}

EventSequencer& TheEventSequencer()
{
    static EventSequencer sequencer;
    return sequencer;
}
