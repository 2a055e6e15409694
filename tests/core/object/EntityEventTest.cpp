#include "core/object/ClassInfo.h"
#include "core/object/Signals.h"
#include "core/object/ValueBinding.h"
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
using test::EventProbe;

// Hears the "sendevent" signal.
class EvWatcher : public test::TestClass<EvWatcher, Node> {
public:
    static constexpr const char* Name = "EvWatcher";
    static void Declare(ClassInfo& classInfo) {
        classInfo.AddMethod("sendevent", "()", BindSignalHandler<&EvWatcher::OnSendEvent>(), 0);
    }

    void OnSendEvent(void* argument) {
        seen.push_back(static_cast<const EventRecord*>(argument)->target.GetId());
        if (action) {
            action();
        }
    }

    std::vector<uint32_t> seen;
    std::function<void()> action;
};

EntityRef RefTo(uint32_t id) {
    EntityRef reference;
    reference.InitFromId(id);
    return reference;
}

void Send(uint32_t target) {
    Entity::SendEvent(EntityRef(), RefTo(target), nullptr, 0.0f);
}

class EntityEvents : public ::testing::Test {
protected:
    void SetUp() override {
        Deliveries().clear();
        watcher_ = tree_.MakeWithId<EvWatcher>();
        AddSignalListener("sendevent", watcher_);
    }
    void TearDown() override { RemoveSignalListener("sendevent", watcher_); }

    EventProbe* Make() { return tree_.MakeWithId<EventProbe>(); }

    test::TestTree tree_;
    EvWatcher* watcher_ = nullptr;
    test::RecordingValidityHook reports_;
};

TEST_F(EntityEvents, RedirectReachesOnlyTheFinalTargetWithOneSignal) {
    EventProbe* sender = Make();
    EventProbe* argument = Make();
    EventProbe* relay = Make();
    EventProbe* last = Make();
    const uint32_t lastPort5 = last->GetId() | 5u << PortShift;
    relay->redirect = lastPort5;
    Entity::SendEvent(RefTo(sender->GetId()), RefTo(relay->GetId() | 2u << PortShift), argument,
                      1.5f);
    ASSERT_EQ(Deliveries().size(), 1u);
    const test::Delivery& delivery = Deliveries()[0];
    EXPECT_EQ(delivery.receiver, last->GetId());
    EXPECT_EQ(delivery.target, lastPort5);
    EXPECT_EQ(delivery.sender, sender->GetId());
    EXPECT_EQ(delivery.argument, argument->GetId());
    EXPECT_EQ(delivery.value, 1.5f);
    EXPECT_EQ(watcher_->seen, std::vector<uint32_t>{lastPort5});
}

TEST_F(EntityEvents, NoTargetGetsNoEventWhileStopsAndDisabledNodesChangeNothing) {
    EventProbe* gone = Make();
    const uint32_t goneId = gone->GetId();
    gone->Delete();
    Send(0);
    Send(goneId);
    EXPECT_TRUE(Deliveries().empty());
    EXPECT_TRUE(watcher_->seen.empty());

    EventProbe* target = Make();
    target->SetFlag(NodeEnabled, false);
    watcher_->SetFlag(NodeEnabled, false);
    watcher_->action = [] { StopSignal(); };
    Send(target->GetId());
    EXPECT_EQ(watcher_->seen.size(), 1u);
    EXPECT_EQ(Deliveries().size(), 1u);

    // A "sendevent" receiver may delete the target: it is looked up again afterwards.
    watcher_->action = [target] { target->Delete(); };
    Send(target->GetId());
    EXPECT_EQ(watcher_->seen.size(), 2u);
    EXPECT_EQ(Deliveries().size(), 1u);
}

TEST_F(EntityEvents, RedirectChainsEndAfterSixteenHopsAndCyclesAreReportedOnce) {
    std::vector<EventProbe*> chain;
    for (int i = 0; i < 18; ++i) {
        chain.push_back(Make());
    }
    for (size_t i = 0; i + 1 < chain.size(); ++i) {
        chain[i]->redirect = chain[i + 1]->GetId();
    }
    // 16 hops from chain[1] to the last one arrive; 17 do not.
    Send(chain[1]->GetId());
    ASSERT_EQ(Deliveries().size(), 1u);
    EXPECT_EQ(Deliveries()[0].receiver, chain.back()->GetId());
    EXPECT_TRUE(reports_.Messages().empty());
    Send(chain[0]->GetId());
    EXPECT_EQ(Deliveries().size(), 1u);
    EXPECT_EQ(reports_.Messages().size(), 1u);

    chain[1]->redirect = chain[0]->GetId(); // a cycle
    Send(chain[1]->GetId());
    Send(chain[1]->GetId());
    EXPECT_EQ(Deliveries().size(), 1u);
    EXPECT_EQ(watcher_->seen.size(), 1u);
    EXPECT_EQ(reports_.Messages().size(), 2u);
}

TEST_F(EntityEvents, EventLoopsAreCutAtTheNestingDepthEvenWhenTheyFanOut) {
    EventProbe* a = Make();
    EventProbe* b = Make();
    a->outputs = {b->GetId()};
    b->outputs = {a->GetId()};
    Send(a->GetId());
    EXPECT_EQ(Deliveries().size(), 64u);
    EXPECT_EQ(reports_.Messages().size(), 1u);

    // Without cutting the whole cascade this would run for 2^64 events.
    Deliveries().clear();
    EventProbe* node = Make();
    node->outputs = {node->GetId(), node->GetId()};
    Send(node->GetId());
    EXPECT_EQ(Deliveries().size(), 64u);
    // The next cascade is delivered again.
    node->outputs.clear();
    Send(node->GetId());
    EXPECT_EQ(Deliveries().size(), 65u);
}

} // namespace
} // namespace quarn
