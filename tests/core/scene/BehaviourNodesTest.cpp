#include "core/object/Property.h"
#include "core/scene/EventMultiplier.h"
#include "core/scene/Pivot.h"
#include "core/scene/PropertyController.h"
#include "core/scene/SignalEmitter.h"
#include "core/scene/SignalFilter.h"
#include "core/scene/SignalReceiver.h"
#include "tests/support/CapturingLogSink.h"
#include "tests/support/EventLog.h"
#include "tests/support/RecordingValidityHook.h"
#include "tests/support/TestTree.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace quarn {
namespace {

using test::Deliveries;
using test::EventProbe;
using test::RefTo;

// Target (port included), sender, argument and value of one delivery.
using Seen = std::tuple<uint32_t, uint32_t, uint32_t, float>;

// The signal receiver and the nodes that route events and signals without a script.
class BehaviourNodes : public ::testing::Test {
protected:
    // Each test is a frame of its own: one that used up a frame's events leaves none for the next.
    void SetUp() override {
        Deliveries().clear();
        Entity::BeginEventFrame();
    }

    template <class T = EventProbe>
    T* Make(const char* name = "") {
        return tree_.MakeWithId<T>(name);
    }

    SignalReceiver* Receiver(const char* name) {
        auto* receiver = Make<SignalReceiver>();
        receiver->SetSignalName(name);
        return receiver;
    }

    static void Wire(SignalReceiver* receiver, int witness, const Entity* target, uint32_t port) {
        receiver->SetPortValue(witness, RefTo(target, port));
    }

    static void Send(const Entity* target, const Entity* sender = nullptr,
                     Entity* argument = nullptr, float value = 0.0f) {
        Entity::SendEvent(RefTo(sender), RefTo(target), argument, value);
    }

    static int Trigger(const char* name, const Entity* sender = nullptr,
                       const Entity* argument = nullptr, float value = 0.0f) {
        EventRecord event;
        event.sender = RefTo(sender);
        event.argument = RefTo(argument);
        event.value = value;
        return SignalReceiver::Trigger(name, event);
    }

    static std::vector<Seen> Log() {
        std::vector<Seen> seen;
        for (const test::Delivery& d : Deliveries()) {
            seen.emplace_back(d.target, d.sender, d.argument, d.value);
        }
        return seen;
    }

    test::TestTree tree_;
    test::RecordingValidityHook reports_;
};

TEST_F(BehaviourNodes, NamesIgnoreCaseKeep31CharactersAndListEachLiveReceiverOnce) {
    const std::string name31(31, 'x');
    SignalReceiver* receiver = Receiver("open");
    receiver->SetSignalName("close");
    receiver->SetSignalName(receiver->GetSignalName()); // its own name: kept
    EXPECT_EQ(receiver->GetDisplayName(), "<SignalReceiver>(close)");
    Receiver("Close")->Delete();
    Receiver((name31 + "tail").c_str());
    EXPECT_EQ(Trigger("open"), 0);
    EXPECT_EQ(Trigger("CLOSE"), 1);
    EXPECT_EQ(Trigger((name31 + "other").c_str()), 1);
    EXPECT_EQ(Trigger(name31.substr(0, 30).c_str()), 0);
}

TEST_F(BehaviourNodes, TriggerSendsToEveryWitnessInOrderEvenWhenDisabled) {
    EventProbe* sender = Make();
    EventProbe* argument = Make();
    EventProbe* a = Make();
    EventProbe* b = Make();
    SignalReceiver* first = Receiver("gate");
    SignalReceiver* second = Receiver("Gate");
    first->SetFlag(NodeEnabled, false);
    Wire(first, 5, a, 3);
    Wire(second, 0, a, 1);
    // Through the property, as a scene sets it: the port stays.
    Property* witness = first->FindProperty("witness1");
    const uint32_t id = b->GetId() | 2u << PortShift;
    witness->WriteValue(*first, &id);
    uint32_t read = 1;
    witness->ReadValue(*first, &read);
    EXPECT_EQ(read, id);
    EXPECT_EQ(Trigger("gate", sender, argument, 2.5f), 2);
    const uint32_t s = sender->GetId(), g = argument->GetId();
    EXPECT_EQ(Log(), (std::vector<Seen>{{id, s, g, 2.5f},
                                        {a->GetId() | 3u << PortShift, s, g, 2.5f},
                                        {a->GetId() | 1u << PortShift, s, g, 2.5f}}));
    // A witness empties when its target goes.
    a->Delete();
    EXPECT_EQ(first->GetPortValue(5).GetId(), 0u);
}

// Receivers of earlier events may delete a later witness, the receiver or the argument.
TEST_F(BehaviourNodes, WhatAnEarlierEventDeletesIsNotReachedLater) {
    for (const char* victim : {"witness", "receiver", "argument"}) {
        Deliveries().clear();
        EventProbe* a = Make();
        EventProbe* b = Make();
        EventProbe* c = Make();
        EventProbe* argument = Make();
        SignalReceiver* receiver = Receiver(victim);
        Wire(receiver, 0, a, 0);
        Wire(receiver, 1, b, 0);
        Wire(Receiver(victim), 0, c, 0);
        const std::string what = victim;
        a->action = [=] {
            Entity* doomed = what == "receiver" ? static_cast<Entity*>(receiver) : argument;
            (what == "witness" ? b : doomed)->Delete();
        };
        EXPECT_EQ(Trigger(victim, nullptr, argument), 2) << victim;
        const std::vector<uint32_t> expected =
            what == "argument" ? std::vector<uint32_t>{a->GetId(), b->GetId(), c->GetId()}
                               : std::vector<uint32_t>{a->GetId(), c->GetId()};
        std::vector<uint32_t> receivers, arguments;
        for (const test::Delivery& delivery : Deliveries()) {
            receivers.push_back(delivery.receiver);
            arguments.push_back(delivery.argument);
        }
        EXPECT_EQ(receivers, expected) << victim;
        EXPECT_NE(arguments.front(), 0u) << victim;
        EXPECT_EQ(arguments.back(), what == "argument" ? 0u : argument->GetId()) << victim;
    }
}

// Witness 5's receiver deletes the argument, witness 6's the multiplier: the argument is looked
// up for each send, and witness 7 is never reached.
TEST_F(BehaviourNodes, MultiplierSendsTheIncomingEventToItsWitnessesInOrderWhileItLives) {
    EventProbe* sender = Make();
    EventProbe* argument = Make();
    auto* multiplier = Make<EventMultiplier>();
    EventProbe* witnesses[] = {Make(), Make(), Make(), Make()};
    const int ports[] = {0, 5, 6, 7};
    for (int i = 0; i < 4; ++i) {
        multiplier->SetPortValue(ports[i], RefTo(witnesses[i], 2));
    }
    multiplier->SetPortValue(8, RefTo(sender)); // not a port: not stored
    witnesses[1]->action = [argument] { argument->Delete(); };
    witnesses[2]->action = [multiplier] { multiplier->Delete(); };
    const uint32_t s = sender->GetId(), a = argument->GetId();
    Send(multiplier, sender, argument, 2.5f);
    std::vector<Seen> expected;
    for (int i = 0; i < 3; ++i) {
        expected.emplace_back(witnesses[i]->GetId() | 2u << PortShift, s, i < 2 ? a : 0u, 2.5f);
    }
    EXPECT_EQ(Log(), expected);
}

TEST_F(BehaviourNodes, ControllerWritesItsTextIntoTheParentsPropertyOnEveryEvent) {
    const std::pair<const char*, std::vector<float>> cases[] = {
        {"pos", {1, 2, 3}},
        {"nosuch", {9, 9, 9}},    // the parent lacks the property
        {"witness0", {9, 9, 9}}}; // the controller's own class does not count
    for (const auto& [name, expected] : cases) {
        auto* root = Make<Pivot>("root");
        auto* controller = tree_.Make<PropertyController>("", root);
        controller->SetPropertyName(name);
        controller->SetAssignedText("1,2,3");
        for (int event = 0; event < 2; ++event) {
            root->SetPosition({9, 9, 9});
            Send(controller, nullptr, root, 1.0f);
            const Float3 p = root->GetPosition();
            EXPECT_EQ((std::vector<float>{p.x, p.y, p.z}), expected) << name;
        }
    }
    Send(Make<PropertyController>()); // no parent: nothing to do
    EXPECT_TRUE(reports_.Messages().empty());
}

// A filter passes only a live sender whose name matches exactly; an emitter reaches the
// receivers of its name, ignoring case, and with no name none.
TEST_F(BehaviourNodes, FilterAndEmitterPassWhatTheirNamesSelect) {
    auto* filter = Make<SignalFilter>();
    filter->SetFilterName("Door");
    auto* emitter = Make<SignalEmitter>();
    auto* receiver = Make<SignalReceiver>();
    filter->SetPortValue(4, RefTo(emitter)); // every port is the one witness
    const uint32_t witness = Make()->GetId() | 1u << PortShift;
    receiver->SetPortValue(0, RefTo(witness));
    EventProbe* door = Make("Door");
    for (const char* name : {"door", "Doors", ""}) {
        Send(filter, Make(name));
    }
    Send(filter, door, door, 0.5f); // the emitter has no name yet
    receiver->SetSignalName("Gate");
    emitter->SetSignalName("gate");
    Send(filter, door, door, 0.5f);
    const uint32_t d = door->GetId();
    EXPECT_EQ(Log(), (std::vector<Seen>{{witness, d, d, 0.5f}}));
    const EntityRef gone = RefTo(door);
    door->Delete();
    Entity::SendEvent(gone, RefTo(filter), nullptr, 0.0f);
    EXPECT_EQ(Deliveries().size(), 1u);
}

// A multiplier that is twice its own witness would fan out into 2^depth events; an emitter whose
// receiver leads back to it recurses. Both end at the event depth bound, reported once.
TEST_F(BehaviourNodes, LoopsThroughBehaviourNodesEndAndAreReportedOnce) {
    auto* multiplier = Make<EventMultiplier>();
    multiplier->SetPortValue(0, RefTo(multiplier));
    multiplier->SetPortValue(7, RefTo(multiplier));
    auto* emitter = Make<SignalEmitter>();
    emitter->SetSignalName("again");
    auto* receiver = Make<SignalReceiver>();
    receiver->SetSignalName("again");
    receiver->SetPortValue(3, RefTo(emitter));
    for (const Entity* start : {static_cast<Entity*>(multiplier), static_cast<Entity*>(emitter)}) {
        reports_.Clear();
        Send(start);
        Send(start);
        EXPECT_EQ(reports_.Messages().size(), 1u) << start->GetClass()->GetName();
    }
}

int64_t dispatched = 0;

void CountDispatches(const char* name, void*, bool) {
    if (std::strcmp(name, "sendevent") == 0) {
        ++dispatched;
    }
}

// Multipliers in a chain, each sending on to the next through `width` witnesses, fan one event
// out to width^(length - 1) at the last, well within the depth bound: the cascade is cut at its
// count, logged once a frame, and the next outermost event counts afresh.
TEST_F(BehaviourNodes, AnEventsCascadeIsCutPastItsCountAndToldOnceAFrame) {
    test::CapturingLogSink log;
    const SignalObserver observer = GetSignalObserver();
    SetSignalObserver(CountDispatches);
    struct Case {
        int width;
        int length;
        int64_t events;
    };
    const Case cases[] = {
        {2, 11, 2047}, // 2^11 - 1: whole
        {8, 14, Entity::MaxCascadeEvents},
        {2, 31, Entity::MaxCascadeEvents},
    };
    for (const Case& c : cases) {
        std::vector<EventMultiplier*> chain;
        for (int i = 0; i < c.length; ++i) {
            chain.push_back(Make<EventMultiplier>());
        }
        for (int i = 0; i + 1 < c.length; ++i) {
            for (int witness = 0; witness < c.width; ++witness) {
                chain[i]->SetPortValue(witness, RefTo(chain[i + 1]));
            }
        }
        Entity::BeginEventFrame();
        for (int frameSend = 0; frameSend < 2; ++frameSend) {
            log.Clear();
            dispatched = 0;
            Send(chain[0]);
            EXPECT_EQ(dispatched, c.events) << c.width << " x " << c.length;
            const bool told = c.events == Entity::MaxCascadeEvents && frameSend == 0;
            // No assertion may end the test before the observer is put back.
            EXPECT_EQ(log.Lines().size(), told ? 1u : 0u) << c.width << " x " << c.length;
            if (told && !log.Lines().empty()) {
                EXPECT_TRUE(log.Lines()[0].text.starts_with(
                    "Events set off by one event passed 65536 at entity "))
                    << log.Lines()[0].text;
            }
        }
    }
    SetSignalObserver(observer);
    EXPECT_TRUE(reports_.Messages().empty()) << "the depth bound was never reached";
}

// Outermost events each within their cascade's count (emitters whose emitting ends together,
// each setting off a chain) still make a frame that never ends: the events of one frame stop at
// their own count, told once a frame, and the next frame counts afresh.
TEST_F(BehaviourNodes, TheEventsOfOneFrameAreCutPastTheirCountAndToldOnceAFrame) {
    test::CapturingLogSink log;
    const SignalObserver observer = GetSignalObserver();
    SetSignalObserver(CountDispatches);
    std::vector<EventMultiplier*> chain; // 2^16 - 1 events a send: whole, within its count
    for (int i = 0; i < 16; ++i) {
        chain.push_back(Make<EventMultiplier>());
    }
    for (int i = 0; i + 1 < 16; ++i) {
        for (int witness = 0; witness < 2; ++witness) {
            chain[i]->SetPortValue(witness, RefTo(chain[i + 1]));
        }
    }
    for (int frame = 0; frame < 2; ++frame) {
        Entity::BeginEventFrame();
        log.Clear();
        dispatched = 0;
        for (int send = 0; send < 6; ++send) {
            Send(chain[0]);
        }
        EXPECT_EQ(dispatched, Entity::MaxFrameEvents);
        EXPECT_EQ(log.Lines().size(), 1u);
        if (!log.Lines().empty()) {
            EXPECT_TRUE(log.Lines()[0].text.starts_with(
                "Events of one frame passed 262144 at entity "))
                << log.Lines()[0].text;
        }
    }
    SetSignalObserver(observer);
}

} // namespace
} // namespace quarn
