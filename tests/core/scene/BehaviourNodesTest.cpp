#include "core/object/Property.h"
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
#include <string>
#include <vector>

namespace quarn {
namespace {

using test::Deliveries;
using test::EventProbe;
using test::RefTo;

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

    // Receivers of each delivery, in order.
    static std::vector<uint32_t> Receivers() {
        std::vector<uint32_t> ids;
        for (const test::Delivery& delivery : Deliveries()) {
            ids.push_back(delivery.receiver);
        }
        return ids;
    }

    test::TestTree tree_;
    test::RecordingValidityHook reports_;
};

TEST_F(BehaviourNodes, MultiplierSendsToItsWitnessesInOrderWithTheIncomingEvent) {
    EventProbe* sender = Make();
    EventProbe* argument = Make();
    EventProbe* first = Make();
    EventProbe* second = Make();
    auto* multiplier = Make<EventMultiplier>();
    // Through the property, as a scene file sets it: the port stays.
    const uint32_t fifth = second->GetId() | 3u << PortShift;
    multiplier->FindProperty("witness5")->WriteValue(*multiplier, &fifth);
    multiplier->SetPortValue(0, RefTo(first, 2));
    multiplier->SetPortValue(8, RefTo(first)); // not a port: not stored
    Send(multiplier, sender, argument, 2.5f);
    ASSERT_EQ(Deliveries().size(), 2u);
    EXPECT_EQ(Deliveries()[0].target, first->GetId() | 2u << PortShift);
    EXPECT_EQ(Deliveries()[1].target, fifth);
    for (const test::Delivery& delivery : Deliveries()) {
        EXPECT_EQ(delivery.sender, sender->GetId());
        EXPECT_EQ(delivery.argument, argument->GetId());
        EXPECT_EQ(delivery.value, 2.5f);
    }
    EXPECT_EQ(multiplier->GetPortValue(8).GetId(), 0u);
    second->Delete();
    EXPECT_EQ(multiplier->GetPortValue(5).GetId(), 0u);
}

TEST_F(BehaviourNodes, ControllerWritesItsTextIntoTheParentsPropertyOnEveryEvent) {
    struct Case {
        const char* property;
        const char* value;
        Float3 expected;
    };
    const Case cases[] = {
        {"pos", "1,2,3", {1, 2, 3}},
        {"POS", "4,5,6", {4, 5, 6}},       // property names ignore case
        {"pos", "7,8", {9, 9, 9}},         // too few parts: the vector ignores the text
        {"nosuch", "1,2,3", {9, 9, 9}},    // the parent lacks the property
        {"witness0", "1,2,3", {9, 9, 9}}}; // the controller's own class does not count
    for (const Case& c : cases) {
        auto* root = Make<Pivot>("root");
        auto* controller = tree_.Make<PropertyController>("", root);
        controller->SetPropertyName(c.property);
        controller->SetPropertyValue(c.value);
        for (int event = 0; event < 2; ++event) {
            root->SetPosition({9, 9, 9});
            Send(controller, nullptr, root, 1.0f);
            const Float3 position = root->GetPosition();
            EXPECT_EQ(position.x, c.expected.x) << c.property << " " << c.value;
            EXPECT_EQ(position.y, c.expected.y) << c.property << " " << c.value;
            EXPECT_EQ(position.z, c.expected.z) << c.property << " " << c.value;
        }
        EXPECT_STREQ(controller->GetInputName(5), "assign");
    }
    Send(Make<PropertyController>()); // no parent: nothing to do
    EXPECT_TRUE(reports_.Messages().empty());
}

TEST_F(BehaviourNodes, FilterPassesOnlyALiveSenderWhoseNameMatchesExactly) {
    EventProbe* witness = Make();
    auto* filter = Make<SignalFilter>();
    filter->SetFilterName("Door");
    filter->SetPortValue(4, RefTo(witness, 1)); // every port is the one witness
    EXPECT_EQ(filter->GetPortValue(0).GetId(), witness->GetId() | 1u << PortShift);
    for (const char* name : {"Door", "door", "Doors", "Doo", ""}) {
        Send(filter, Make(name), witness, 0.5f);
    }
    ASSERT_EQ(Deliveries().size(), 1u);
    EXPECT_EQ(Deliveries()[0].target, witness->GetId() | 1u << PortShift);
    EXPECT_EQ(Deliveries()[0].value, 0.5f);
    // The sender is gone by the time the event arrives.
    EventProbe* door = Make("Door");
    const EntityRef sender = RefTo(door);
    door->Delete();
    Entity::SendEvent(sender, RefTo(filter), nullptr, 0.0f);
    EXPECT_EQ(Deliveries().size(), 1u);
}

TEST_F(BehaviourNodes, EmitterTriggersTheReceiversOfItsNameAndAnEmptyNameReachesNobody) {
    EventProbe* sender = Make();
    EventProbe* witness = Make();
    auto* receiver = Make<SignalReceiver>();
    receiver->SetSignalName("Gate");
    receiver->SetPortValue(0, RefTo(witness));
    receiver->SetSignalName("");
    auto* emitter = Make<SignalEmitter>();
    Send(emitter, sender);
    EXPECT_TRUE(Deliveries().empty());
    receiver->SetSignalName("Gate");
    emitter->SetSignalName("gate");
    Send(emitter, sender, witness, 3.0f);
    ASSERT_EQ(Deliveries().size(), 1u);
    EXPECT_EQ(Deliveries()[0].sender, sender->GetId());
    EXPECT_EQ(Deliveries()[0].argument, witness->GetId());
    EXPECT_EQ(Deliveries()[0].value, 3.0f);
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
    EventProbe* probe = Make();
    for (Entity* start : {static_cast<Entity*>(multiplier), static_cast<Entity*>(emitter)}) {
        reports_.Clear();
        Send(start);
        Send(start);
        EXPECT_EQ(reports_.Messages().size(), 1u) << start->GetClass()->GetName();
    }
    // The cascade is over: the next event goes through.
    multiplier->SetPortValue(0, RefTo(probe));
    multiplier->SetPortValue(7, EntityRef());
    Send(multiplier);
    EXPECT_EQ(Receivers(), std::vector<uint32_t>{probe->GetId()});
}

// The receiver of an earlier witness's event deletes the multiplier or the argument.
TEST_F(BehaviourNodes, MultiplierDeletedMidLoopStopsAndADeletedArgumentGoesOnAsNone) {
    for (const std::string victim : {"multiplier", "argument"}) {
        Deliveries().clear();
        EventProbe* first = Make();
        EventProbe* later = Make();
        EventProbe* argument = Make();
        auto* multiplier = Make<EventMultiplier>();
        multiplier->SetPortValue(0, RefTo(first));
        multiplier->SetPortValue(1, RefTo(later));
        first->action = [=] {
            (victim == "multiplier" ? static_cast<Entity*>(multiplier) : argument)->Delete();
        };
        Send(multiplier, nullptr, argument);
        if (victim == "multiplier") {
            EXPECT_EQ(Receivers(), std::vector<uint32_t>{first->GetId()});
        } else {
            ASSERT_EQ(Receivers(), (std::vector<uint32_t>{first->GetId(), later->GetId()}));
            EXPECT_EQ(Deliveries()[1].argument, 0u);
        }
    }
}

} // namespace
} // namespace quarn
