// The sequencer: creation order, lookup by name, hand-over and ownership.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "scene/EventCreate.h"
#include "scene/EventFinish.h"
#include "scene/EventSequencer.h"
#include "scene/EventTitle.h"

namespace {

// An event that hands over to a named event (or stays) and counts its deaths.
class ScriptedEvent : public Event {
public:
    ScriptedEvent(const char* eventName, std::string nextName, int* deaths)
        : Event(nullptr, eventName), next(std::move(nextName)), deathCount(deaths)
    {
    }
    ~ScriptedEvent() override { ++*deathCount; }
    bool Prepare() override { return true; }
    Event* Update(EventSequencer& sequencer) override
    {
        ++updates;
        if (next.empty()) return this;
        return sequencer.FindByName(next.c_str());
    }

    int updates = 0;

private:
    std::string next;
    int* deathCount;
};

TEST(EventSequencer, CreateListsTheThreeEventsWithTheTitleCurrent)
{
    EventSequencer sequencer;
    ASSERT_TRUE(sequencer.Create(nullptr));
    ASSERT_EQ(sequencer.Count(), 3);
    EXPECT_STREQ(sequencer[0]->Name(), "EventTitle");
    EXPECT_STREQ(sequencer[1]->Name(), "EventCreate");
    EXPECT_STREQ(sequencer[2]->Name(), "EventFinish");
    EXPECT_EQ(sequencer.Current(), sequencer[0]);
    EXPECT_NE(dynamic_cast<EventTitle*>(sequencer[0]), nullptr);
    EXPECT_NE(dynamic_cast<EventCreate*>(sequencer[1]), nullptr);
    EXPECT_NE(dynamic_cast<EventFinish*>(sequencer[2]), nullptr);
}

TEST(EventSequencer, FindByNameIsExact)
{
    EventSequencer sequencer;
    ASSERT_TRUE(sequencer.Create(nullptr));
    EXPECT_EQ(sequencer.FindByName("EventCreate"), sequencer[1]);
    EXPECT_EQ(sequencer.FindByName("eventcreate"), nullptr);
    EXPECT_EQ(sequencer.FindByName("EventCreate "), nullptr);
    EXPECT_EQ(sequencer.FindByName("EventSomething"), nullptr);
    EXPECT_EQ(sequencer.FindByName(nullptr), nullptr);
}

TEST(EventSequencer, StepWithoutCreateDoesNothing)
{
    int deaths = 0;
    EventSequencer sequencer;
    auto owned = std::make_unique<ScriptedEvent>("First", "", &deaths);
    ScriptedEvent* first = owned.get();
    sequencer.Add(std::move(owned));
    sequencer.Step();
    EXPECT_EQ(first->updates, 0);
    EXPECT_EQ(sequencer.Current(), nullptr);
}

TEST(EventSequencer, AnEventThatStaysRemainsCurrent)
{
    // Without an application to run for, the title does nothing and stays.
    EventSequencer sequencer;
    ASSERT_TRUE(sequencer.Create(nullptr));
    Event* title = sequencer.Current();
    for (int i = 0; i < 100; ++i) sequencer.Step();
    EXPECT_EQ(sequencer.Current(), title);
    EXPECT_EQ(static_cast<EventTitle*>(title)->Frame(), 0);
}

TEST(EventSequencer, DestructionDeletesEveryEventOnce)
{
    int deaths = 0;
    {
        EventSequencer sequencer;
        for (const char* n : {"A", "B", "C"}) sequencer.Add(std::make_unique<ScriptedEvent>(n, "", &deaths));
    }
    EXPECT_EQ(deaths, 3);
}

TEST(EventSequencer, EventNamesAreCutToSixtyThreeCharacters)
{
    int deaths = 0;
    std::string longName(100, 'x');
    ScriptedEvent event(longName.c_str(), "", &deaths);
    EXPECT_EQ(std::string(event.Name()), std::string(63, 'x'));
}

TEST(SceneEventFades, TitleAlphas)
{
    for (int n = 0; n <= 32; ++n) EXPECT_EQ(EventTitle::FadeAlpha(n), 255) << n;
    EXPECT_EQ(EventTitle::FadeAlpha(33), 247);
    EXPECT_EQ(EventTitle::FadeAlpha(34), 239);
    EXPECT_EQ(EventTitle::FadeAlpha(63), 7);
    EXPECT_EQ(EventTitle::FadeAlpha(64), 0);
}

TEST(SceneEventFades, ClosingAlphasRiseFromNothingToFullWhite)
{
    EXPECT_EQ(EventFinish::WhiteAlpha(0), 0);
    EXPECT_EQ(EventFinish::PictureAlpha(0), 0);
    EXPECT_EQ(EventFinish::WhiteAlpha(96), 255);
    EXPECT_EQ(EventFinish::PictureAlpha(96), 255);
    int previous = 0;
    for (int n = 0; n <= 96; ++n) {
        int white = EventFinish::WhiteAlpha(n);
        int picture = EventFinish::PictureAlpha(n);
        EXPECT_GE(white, previous);
        EXPECT_LE(std::abs(white - picture), 1) << n;
        previous = white;
    }
    // Past the end the alphas stay valid bytes.
    EXPECT_EQ(EventFinish::WhiteAlpha(200), 255);
    EXPECT_EQ(EventFinish::PictureAlpha(200), 255);
}

}  // namespace
