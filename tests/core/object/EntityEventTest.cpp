#include "core/object/ClassInfo.h"
#include "core/object/Entity.h"
#include "core/object/IdMap.h"
#include "core/object/Signals.h"
#include "core/object/ValueBinding.h"
#include "core/scene/Node.h"
#include "tests/support/EventLog.h"
#include "tests/support/RecordingValidityHook.h"
#include "tests/support/TestClass.h"
#include "tests/support/TestTree.h"

#include <functional>
#include <gtest/gtest.h>
#include <vector>

namespace quarn {
namespace {

using test::Deliveries;
using test::Delivery;
using test::TestClass;

// Records what reaches its inputs, may redirect them, and may send every event on to its
// outputs (which may lead back to itself).
class EvProbe : public TestClass<EvProbe, Node> {
public:
    static constexpr const char* Name = "EvProbe";

    uint32_t GetInputRedirect(int) const override { return redirect; }
    void ReceiveEvent(const EventRecord& event) override {
        test::RecordDelivery(*this, event);
        if (!relay) {
            return;
        }
        std::vector<uint32_t> targets = outputs; // this node may not survive a send
        for (uint32_t id : targets) {
            EntityRef target;
            target.InitFromId(id);
            SendEvent(event.sender, target, event.argument.GetTarget(), event.value);
        }
    }

    uint32_t redirect = 0;
    bool relay = false;
    std::vector<uint32_t> outputs;
};

// Hears the "sendevent" signal.
class EvWatcher : public TestClass<EvWatcher, Node> {
public:
    static constexpr const char* Name = "EvWatcher";
    static void Declare(ClassInfo& classInfo) {
        classInfo.AddMethod("sendevent", "()", BindSignalHandler<&EvWatcher::OnSendEvent>(), 0);
    }

    void OnSendEvent(void* argument) {
        const auto& event = *static_cast<const EventRecord*>(argument);
        seen.push_back(event.target.GetId());
        if (action) {
            action(event);
        }
    }

    std::vector<uint32_t> seen;
    std::function<void(const EventRecord&)> action;
};

EntityRef RefTo(uint32_t id) {
    EntityRef reference;
    reference.InitFromId(id);
    return reference;
}

uint32_t WithPort(const Entity* entity, uint32_t port) {
    return entity->GetId() | (port << PortShift);
}

void Send(uint32_t target) {
    Entity::SendEvent(EntityRef(), RefTo(target), nullptr, 0.0f);
}

class EntityEvents : public ::testing::Test {
protected:
    void SetUp() override {
        Deliveries().clear();
        watcher_ = Make<EvWatcher>();
        AddSignalListener("sendevent", watcher_);
    }
    void TearDown() override { RemoveSignalListener("sendevent", watcher_); }

    // A node with an id in the opened scene; deleted at the end unless a test deleted it.
    template <class T = EvProbe>
    T* Make() {
        T* node = tree_.Make<T>("");
        node->ChangeId(TheIdMap().GetFreeLocalId(0));
        return node;
    }

    test::TestTree tree_;
    EvWatcher* watcher_ = nullptr;
    test::RecordingValidityHook reports_;
};

TEST_F(EntityEvents, RedirectReachesOnlyTheFinalTargetWithOneSignal) {
    EvProbe* sender = Make();
    EvProbe* argument = Make();
    EvProbe* relay = Make();
    EvProbe* last = Make();
    relay->redirect = WithPort(last, 5);
    Entity::SendEvent(RefTo(sender->GetId()), RefTo(WithPort(relay, 2)), argument, 1.5f);
    ASSERT_EQ(Deliveries().size(), 1u);
    const Delivery& delivery = Deliveries()[0];
    EXPECT_EQ(delivery.receiver, last->GetId());
    EXPECT_EQ(delivery.target, WithPort(last, 5));
    EXPECT_EQ(delivery.sender, sender->GetId());
    EXPECT_EQ(delivery.argument, argument->GetId());
    EXPECT_EQ(delivery.value, 1.5f);
    EXPECT_EQ(watcher_->seen, std::vector<uint32_t>{WithPort(last, 5)});
}

TEST_F(EntityEvents, NothingIsSentToIdZeroOrToADeletedTarget) {
    EvProbe* gone = Make();
    const uint32_t goneId = gone->GetId();
    gone->Delete();
    Send(0);
    Send(goneId);
    EXPECT_TRUE(Deliveries().empty());
    EXPECT_TRUE(watcher_->seen.empty());
}

TEST_F(EntityEvents, NeitherAStoppedSignalNorDisabledNodesStopTheEvent) {
    EvProbe* target = Make();
    target->SetFlag(NodeEnabled, false);
    watcher_->SetFlag(NodeEnabled, false);
    watcher_->action = [](const EventRecord&) { StopSignal(); };
    Send(target->GetId());
    EXPECT_EQ(watcher_->seen.size(), 1u);
    EXPECT_EQ(Deliveries().size(), 1u);
}

TEST_F(EntityEvents, TargetDeletedBySignalReceiverGetsNoEvent) {
    EvProbe* target = Make();
    watcher_->action = [target](const EventRecord&) { target->Delete(); };
    Send(target->GetId());
    EXPECT_EQ(watcher_->seen.size(), 1u);
    EXPECT_TRUE(Deliveries().empty());
}

TEST_F(EntityEvents, RedirectChainEndsAfterSixteenHops) {
    std::vector<EvProbe*> chain;
    for (int i = 0; i < 18; ++i) {
        chain.push_back(Make());
    }
    for (size_t i = 0; i + 1 < chain.size(); ++i) {
        chain[i]->redirect = chain[i + 1]->GetId();
    }
    // 16 hops from chain[1] to the last one arrive.
    Send(chain[1]->GetId());
    ASSERT_EQ(Deliveries().size(), 1u);
    EXPECT_EQ(Deliveries()[0].receiver, chain.back()->GetId());
    EXPECT_TRUE(reports_.Messages().empty());
    // 17 do not.
    Send(chain[0]->GetId());
    EXPECT_EQ(Deliveries().size(), 1u);
    EXPECT_EQ(reports_.Messages().size(), 1u);
    EXPECT_EQ(watcher_->seen.size(), 1u);
}

TEST_F(EntityEvents, RedirectCycleIsDroppedAndReportedOnce) {
    EvProbe* a = Make();
    EvProbe* b = Make();
    a->redirect = b->GetId();
    b->redirect = a->GetId();
    Send(a->GetId());
    Send(a->GetId());
    EXPECT_TRUE(Deliveries().empty());
    EXPECT_TRUE(watcher_->seen.empty());
    EXPECT_EQ(reports_.Messages().size(), 1u);
}

TEST_F(EntityEvents, EventLoopIsCutAtTheNestingDepth) {
    EvProbe* a = Make();
    EvProbe* b = Make();
    a->relay = b->relay = true;
    a->outputs = {b->GetId()};
    b->outputs = {a->GetId()};
    Send(a->GetId());
    EXPECT_EQ(Deliveries().size(), 64u);
    EXPECT_EQ(reports_.Messages().size(), 1u);
}

TEST_F(EntityEvents, LoopThatFansOutEndsWithItsCascade) {
    EvProbe* node = Make();
    node->relay = true;
    node->outputs = {node->GetId(), node->GetId()};
    // Without cutting the whole cascade this would run for 2^64 events.
    Send(node->GetId());
    EXPECT_EQ(Deliveries().size(), 64u);
    // The next cascade is delivered again.
    node->relay = false;
    Send(node->GetId());
    EXPECT_EQ(Deliveries().size(), 65u);
}

} // namespace
} // namespace quarn
