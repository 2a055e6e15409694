#include "core/object/Entity.h"

#include "core/object/MethodInfo.h"
#include "core/object/Property.h"
#include "core/object/Signals.h"
#include "core/object/ValueBinding.h"
#include "core/string/TextArena.h"
#include "tests/support/EventLog.h"
#include "tests/support/RecordingValidityHook.h"
#include "tests/support/TestClass.h"
#include "tests/support/TestTree.h"

#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace quarn {
namespace {

using test::TestClass;

class EtAnimal : public TestClass<EtAnimal> {
public:
    static constexpr const char* Name = "EtAnimal";
};
class EtDog_old : public TestClass<EtDog_old, EtAnimal> {
public:
    static constexpr const char* Name = "EtDog_old";
    PathString GetDescription() const override { return PathString(description.c_str()); }
    std::string description;
};
class EtStone : public TestClass<EtStone> {
public:
    static constexpr const char* Name = "EtStone";
};
// Answers whatever class it is told, as a script node answers its program's class.
class EtShapeShifter : public TestClass<EtShapeShifter> {
public:
    static constexpr const char* Name = "EtShapeShifter";
    ClassInfo* GetClass() const override { return answer ? answer : classInfo; }
    ClassInfo* answer = nullptr;
};

class EntityTest : public ::testing::Test {
protected:
    void SetUp() override {
        EtDog_old::RegisterClass();
        EtStone::RegisterClass();
        EtShapeShifter::RegisterClass();
    }
};

// Runs the Entity method at `index` on `object` with one argument word.
uint32_t CallEntityMethod(int index, Entity* object, uint32_t argument = 0) {
    uint32_t block[2] = {0, argument};
    Entity::classInfo->GetMethod(index)->Call(object, block);
    return block[0];
}

TEST_F(EntityTest, CastsAnswerTheObjectForItsClassAndItsBasesOnly) {
    auto* dog = static_cast<EtDog_old*>(EtDog_old::classInfo->CreateInstance());
    dog->ChangeId(TheIdMap().GetFreeLocalId(0));
    for (const char* name : {"EtDog_old", "EtAnimal", "Entity"}) {
        EXPECT_EQ(CallEntityMethod(0, dog, StoreText(name)), dog->GetId()) << name;
    }
    for (const char* name : {"EtStone", "EtDog", "etanimal", ""}) {
        EXPECT_EQ(CallEntityMethod(0, dog, StoreText(name)), 0u) << name;
    }
    EtAnimal animal;
    EXPECT_EQ(animal.CastTo(EtDog_old::classInfo), nullptr);

    // The id, a copy of the description in the temporary ring, and destruction.
    dog->description = "barking";
    EXPECT_EQ(CallEntityMethod(3, dog), dog->GetId());
    const uint32_t description = CallEntityMethod(2, dog);
    EXPECT_STREQ(LookupText(description), "barking");
    EXPECT_NE(CallEntityMethod(2, dog), description);
    const uint32_t id = dog->GetId();
    const int count = EtDog_old::classInfo->GetInstanceCount();
    CallEntityMethod(1, dog);
    EXPECT_EQ(EtDog_old::classInfo->GetInstanceCount(), count - 1);
    EXPECT_EQ(LookupEntity(id), nullptr);
}

TEST_F(EntityTest, ANameWithALineFeedIsRefusedByAnyPathAndTheDisplayNameFallsBack) {
    EtDog_old dog;
    EXPECT_EQ(dog.GetDisplayName(), "<EtDog_old>");
    dog.description = "brown";
    EXPECT_EQ(dog.GetDisplayName(), "<EtDog>(brown)");
    dog.SetName("Rex");
    EXPECT_EQ(dog.GetDisplayName(), "\"Rex\"");
    dog.SetName("two\nlines");
    EXPECT_EQ(dog.GetName(), "Rex");

    Property* name = dog.FindProperty("NAME");
    ASSERT_NE(name, nullptr);
    uint32_t word = StoreText("boulder");
    name->WriteValue(dog, &word);
    word = StoreText("a\nb");
    name->WriteValue(dog, &word);
    EXPECT_EQ(dog.GetName(), "boulder");
}

TEST_F(EntityTest, TheInstanceListStaysExactHoweverAnObjectGoes) {
    ClassInfo* stones = EtStone::classInfo;
    ClassInfo* shifters = EtShapeShifter::classInfo;
    const int count = stones->GetInstanceCount();
    const int shifterCount = shifters->GetInstanceCount();
    Entity* first = stones->CreateInstance();
    Entity* second = stones->CreateInstance();
    Entity* third = stones->CreateInstance();
    second->Delete();
    ASSERT_EQ(stones->GetInstanceCount(), count + 2);
    EXPECT_EQ(stones->GetInstance(count), first);
    EXPECT_EQ(stones->GetInstance(count + 1), third);

    // Deleted after its class changed: it leaves the list it was put in.
    auto* shifter = static_cast<EtShapeShifter*>(shifters->CreateInstance());
    shifter->answer = stones;
    shifter->Delete();
    EXPECT_EQ(shifters->GetInstanceCount(), shifterCount);
    EXPECT_EQ(stones->GetInstanceCount(), count + 2);

    delete first; // without Delete
    third->Delete();
    EXPECT_EQ(stones->GetInstanceCount(), count);
}

// Events ----------------------------------------------------------------------------------------

using test::Deliveries;
using test::EventProbe;
using test::RefTo;

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
