#include "core/scene/SignalReceiver.h"

#include "core/object/ClassInfo.h"
#include "core/object/IdMap.h"
#include "core/object/Property.h"
#include "core/object/ValueType.h"
#include "tests/support/EventLog.h"
#include "tests/support/TestClass.h"
#include "tests/support/TestTree.h"

#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace quarn {
namespace {

using test::Deliveries;
using test::Delivery;
using test::TestClass;

// A witness that records its events and may act on them.
class SrTarget : public TestClass<SrTarget, Node> {
public:
    static constexpr const char* Name = "SrTarget";

    void ReceiveEvent(const EventRecord& event) override {
        test::RecordDelivery(*this, event);
        if (action) {
            action();
        }
    }

    std::function<void()> action;
};

class SignalReceiverTest : public ::testing::Test {
protected:
    void SetUp() override { Deliveries().clear(); }

    // With an id in the opened scene.
    template <class T = SrTarget>
    T* Make() {
        T* node = tree_.Make<T>("");
        node->ChangeId(TheIdMap().GetFreeLocalId(0));
        return node;
    }

    SignalReceiver* Receiver(const char* name) {
        SignalReceiver* receiver = Make<SignalReceiver>();
        receiver->SetSignalName(name);
        return receiver;
    }

    static void Wire(SignalReceiver* receiver, int witness, const Entity* target, uint32_t port) {
        EntityRef reference;
        reference.InitFromId(target->GetId() | (port << PortShift));
        receiver->SetPortValue(witness, reference);
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

TEST_F(SignalReceiverTest, RegistersBelowNodeWithTheSignalNameAndSixWitnesses) {
    ClassInfo* info = SignalReceiver::RegisterClass();
    EXPECT_EQ(info->GetParent(), Node::RegisterClass());
    EXPECT_STREQ(info->GetCategory(), "Behaviour");
    const auto& properties = info->GetOwnProperties();
    ASSERT_EQ(properties.size(), 7u);
    EXPECT_STREQ(properties[0]->GetName(), "signalname");
    for (int i = 1; i < 7; ++i) {
        EXPECT_EQ(properties[i]->GetName(), "witness" + std::to_string(i - 1)) << i;
        EXPECT_STREQ(properties[i]->GetRange(), "signal") << i;
        EXPECT_EQ(properties[i]->GetValueType(), ClassTypeBase + Node::classInfo->GetClassNumber());
    }
}

TEST_F(SignalReceiverTest, WitnessPropertyKeepsThePortAndEmptiesWhenItsTargetGoes) {
    SignalReceiver* receiver = Receiver("");
    SrTarget* target = Make();
    Property* witness = receiver->FindProperty("witness3");
    ASSERT_NE(witness, nullptr);
    const uint32_t id = target->GetId() | (2u << PortShift);
    witness->WriteValue(*receiver, &id);
    uint32_t read = 0;
    witness->ReadValue(*receiver, &read);
    EXPECT_EQ(read, id);
    EXPECT_EQ(receiver->GetPortValue(3).GetId(), id);
    target->Delete();
    EXPECT_EQ(receiver->GetPortValue(3).GetId(), 0u);
}

TEST_F(SignalReceiverTest, NameSetTwiceIsListedOnceUnderTheSecond) {
    SignalReceiver* receiver = Receiver("open");
    receiver->SetSignalName("close");
    receiver->SetSignalName(receiver->GetSignalName());
    EXPECT_EQ(Trigger("open"), 0);
    EXPECT_EQ(Trigger("close"), 1);
    EXPECT_EQ(receiver->GetDisplayName(), "<SignalReceiver>(close)");
}

TEST_F(SignalReceiverTest, NamesIgnoreCaseAndKeepThirtyOneCharacters) {
    const std::string name31(31, 'x');
    Receiver("door");
    Receiver((name31 + "tail").c_str());
    EXPECT_EQ(Trigger("DOOR"), 1);
    EXPECT_EQ(Trigger((name31 + "other").c_str()), 1);
    EXPECT_EQ(Trigger(name31.substr(0, 30).c_str()), 0);
}

TEST_F(SignalReceiverTest, DeletedReceiverLeavesTheRegistry) {
    SignalReceiver* receiver = Receiver("bell");
    Receiver("bell");
    receiver->Delete();
    EXPECT_EQ(Trigger("bell"), 1);
}

TEST_F(SignalReceiverTest, TriggerSendsToEveryWitnessInOrderEvenWhenDisabled) {
    SrTarget* sender = Make();
    SrTarget* argument = Make();
    SrTarget* a = Make();
    SrTarget* b = Make();
    SignalReceiver* first = Receiver("gate");
    SignalReceiver* second = Receiver("Gate");
    first->SetFlag(NodeEnabled, false);
    Wire(first, 5, a, 3);
    Wire(first, 1, b, 0);
    Wire(second, 0, a, 1);
    EXPECT_EQ(Trigger("gate", sender, argument, 2.5f), 2);
    ASSERT_EQ(Deliveries().size(), 3u);
    EXPECT_EQ(Deliveries()[0].target, b->GetId());
    EXPECT_EQ(Deliveries()[1].target, a->GetId() | (3u << PortShift));
    EXPECT_EQ(Deliveries()[2].target, a->GetId() | (1u << PortShift));
    for (const Delivery& delivery : Deliveries()) {
        EXPECT_EQ(delivery.sender, sender->GetId());
        EXPECT_EQ(delivery.argument, argument->GetId());
        EXPECT_EQ(delivery.value, 2.5f);
    }
}

// Receivers of earlier events may delete what later ones need.

TEST_F(SignalReceiverTest, WitnessDeletedByAnEarlierEventIsSkipped) {
    SrTarget* a = Make();
    SrTarget* b = Make();
    SignalReceiver* receiver = Receiver("alarm");
    Wire(receiver, 0, a, 0);
    Wire(receiver, 1, b, 0);
    a->action = [b] { b->Delete(); };
    Trigger("alarm");
    ASSERT_EQ(Deliveries().size(), 1u);
    EXPECT_EQ(Deliveries()[0].receiver, a->GetId());
}

TEST_F(SignalReceiverTest, ReceiverDeletedByAnEarlierEventSendsNoMore) {
    SrTarget* a = Make();
    SrTarget* b = Make();
    SignalReceiver* doomed = Receiver("alarm");
    Wire(doomed, 0, a, 0);
    Wire(doomed, 1, a, 0);
    Wire(Receiver("alarm"), 0, b, 0);
    a->action = [doomed] { doomed->Delete(); };
    EXPECT_EQ(Trigger("alarm"), 2);
    ASSERT_EQ(Deliveries().size(), 2u);
    EXPECT_EQ(Deliveries()[0].receiver, a->GetId());
    EXPECT_EQ(Deliveries()[1].receiver, b->GetId());
}

TEST_F(SignalReceiverTest, ArgumentDeletedByAnEarlierEventReachesLaterWitnessesAsNone) {
    SrTarget* a = Make();
    SrTarget* b = Make();
    SrTarget* argument = Make();
    SignalReceiver* receiver = Receiver("alarm");
    Wire(receiver, 0, a, 0);
    Wire(receiver, 1, b, 0);
    a->action = [argument] { argument->Delete(); };
    Trigger("alarm", nullptr, argument);
    ASSERT_EQ(Deliveries().size(), 2u);
    EXPECT_NE(Deliveries()[0].argument, 0u);
    EXPECT_EQ(Deliveries()[1].argument, 0u);
}

} // namespace
} // namespace quarn
