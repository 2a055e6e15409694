#include "core/scene/SignalReceiver.h"

#include "core/object/Property.h"
#include "core/object/ValueType.h"
#include "tests/support/EventLog.h"
#include "tests/support/TestTree.h"

#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace quarn {
namespace {

using test::Deliveries;
using test::Delivery;
using test::EventProbe;

class SignalReceiverTest : public ::testing::Test {
protected:
    void SetUp() override { Deliveries().clear(); }

    EventProbe* Make() { return tree_.MakeWithId<EventProbe>(); }

    SignalReceiver* Receiver(const char* name) {
        SignalReceiver* receiver = tree_.MakeWithId<SignalReceiver>();
        receiver->SetSignalName(name);
        return receiver;
    }

    static void Wire(SignalReceiver* receiver, int witness, const Entity* target, uint32_t port) {
        receiver->SetPortValue(witness, test::RefTo(target, port));
    }

    static int Trigger(const char* name, const Entity* sender = nullptr,
                       const Entity* argument = nullptr, float value = 0.0f) {
        EventRecord event;
        event.sender.InitFromId(sender ? sender->GetId() : 0);
        event.argument.InitFromId(argument ? argument->GetId() : 0);
        event.value = value;
        return SignalReceiver::Trigger(name, event);
    }

    test::TestTree tree_;
};

TEST_F(SignalReceiverTest, NamesIgnoreCaseKeep31CharactersAndListEachLiveReceiverOnce) {
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

TEST_F(SignalReceiverTest, TriggerSendsToEveryWitnessInOrderEvenWhenDisabled) {
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
    const uint32_t id = b->GetId() | (2u << PortShift);
    witness->WriteValue(*first, &id);
    uint32_t read = 1;
    witness->ReadValue(*first, &read);
    EXPECT_EQ(read, id);
    EXPECT_EQ(Trigger("gate", sender, argument, 2.5f), 2);
    ASSERT_EQ(Deliveries().size(), 3u);
    EXPECT_EQ(Deliveries()[0].target, id);
    EXPECT_EQ(Deliveries()[1].target, a->GetId() | (3u << PortShift));
    EXPECT_EQ(Deliveries()[2].target, a->GetId() | (1u << PortShift));
    for (const Delivery& delivery : Deliveries()) {
        EXPECT_EQ(delivery.sender, sender->GetId());
        EXPECT_EQ(delivery.argument, argument->GetId());
        EXPECT_EQ(delivery.value, 2.5f);
    }
    // A witness empties when its target goes.
    a->Delete();
    EXPECT_EQ(first->GetPortValue(5).GetId(), 0u);
}

// Receivers of earlier events may delete a later witness, the receiver or the argument.
TEST_F(SignalReceiverTest, WhatAnEarlierEventDeletesIsNotReachedLater) {
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
        for (const Delivery& delivery : Deliveries()) {
            receivers.push_back(delivery.receiver);
            arguments.push_back(delivery.argument);
        }
        EXPECT_EQ(receivers, expected) << victim;
        EXPECT_NE(arguments.front(), 0u) << victim;
        EXPECT_EQ(arguments.back(), what == "argument" ? 0u : argument->GetId()) << victim;
    }
}

} // namespace
} // namespace quarn
