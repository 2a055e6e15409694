#include "core/scene/EventMultiplier.h"
#include "core/scene/Pivot.h"
#include "core/scene/PropertyController.h"
#include "core/scene/SignalEmitter.h"
#include "core/scene/SignalFilter.h"
#include "core/scene/SignalReceiver.h"
#include "tests/support/EventLog.h"
#include "tests/support/RecordingValidityHook.h"
#include "tests/support/TestTree.h"

#include <gtest/gtest.h>
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

class BehaviourNodes : public ::testing::Test {
protected:
    void SetUp() override { Deliveries().clear(); }

    template <class T = EventProbe>
    T* Make(const char* name = "") {
        return tree_.MakeWithId<T>(name);
    }

    static void Send(const Entity* target, const Entity* sender = nullptr,
                     Entity* argument = nullptr, float value = 0.0f) {
        Entity::SendEvent(RefTo(sender), RefTo(target), argument, value);
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
        controller->SetPropertyValue("1,2,3");
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

} // namespace
} // namespace quarn
