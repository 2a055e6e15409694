#include "core/object/EntityRef.h"

#include "core/object/Entity.h"
#include "core/object/IdMap.h"
#include "tests/support/RecordingValidityHook.h"

#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <utility>
#include <vector>

namespace quarn {
namespace {

struct Holder;
using Notice = std::pair<Entity*, uint32_t>;
using Log = std::vector<std::pair<Holder*, Notice>>;

// Holds a reference and records what it is told about it, into a log that several holders may
// share so that the order across them shows.
struct Holder : Entity {
    explicit Holder(Log* log = nullptr) : log(log) {}
    void OnReferenceChanged(Entity* target, uint32_t newId) override {
        notices.emplace_back(target, newId);
        if (log) {
            log->push_back({this, {target, newId}});
        }
        if (onNotice) {
            onNotice();
        }
    }

    EntityRef ref{this};
    std::vector<Notice> notices;
    std::function<void()> onNotice;
    Log* log;
};

class EntityRefTest : public ::testing::Test {
protected:
    void SetUp() override { TheIdMap().Clear(); }
    void TearDown() override { TheIdMap().Clear(); }

    test::RecordingValidityHook reports_;
};

TEST_F(EntityRefTest, LookupIgnoresPortBitsAndGivesNothingForZero) {
    Entity target;
    target.ChangeId(5);
    EXPECT_EQ(LookupEntity(0), nullptr);
    EXPECT_EQ(LookupEntity(0x30000005), &target);
    EXPECT_EQ(LookupEntity(6), nullptr);
    EXPECT_EQ(LookupEntity(0x00070005), nullptr) << "an id system that does not exist";
}

TEST_F(EntityRefTest, LinkedReferenceFollowsAMovedTargetAndKeepsItsPort) {
    Entity target;
    target.ChangeId(5);
    Holder holder;
    EXPECT_EQ(holder.ref.SetId(0x20000005), &target);
    target.ChangeId(9);
    EXPECT_EQ(holder.ref.GetId(), 0x20000009u);
    EXPECT_EQ(holder.ref.GetTarget(), &target);
    EXPECT_EQ(holder.notices, std::vector<Notice>{Notice(&target, 9)});
    EXPECT_EQ(LookupEntity(5), nullptr);
    EXPECT_EQ(LookupEntity(9), &target);
}

TEST_F(EntityRefTest, ChangeIdToZeroTellsEveryListenerAndClearsTheirReferences) {
    Entity target;
    target.ChangeId(5);
    Holder a, b, c;
    a.ref.SetId(5);
    b.ref.SetId(0x10000005);
    c.ref.SetId(5);
    target.ChangeId(0);
    for (Holder* holder : {&a, &b, &c}) {
        EXPECT_EQ(holder->notices, std::vector<Notice>{Notice(&target, 0)});
        EXPECT_EQ(holder->ref.GetId(), 0u);
        EXPECT_EQ(holder->ref.GetTarget(), nullptr);
    }
    EXPECT_EQ(LookupEntity(5), nullptr);
}

TEST_F(EntityRefTest, DestroyingAnEntityTellsEveryLinkedReferenceInListOrder) {
    Log log;
    Holder a(&log), b(&log), c(&log);
    auto target = std::make_unique<Entity>();
    target->ChangeId(5);
    Entity* address = target.get();
    a.ref.SetId(5);
    b.ref.SetId(5);
    c.ref.SetId(5); // linked at the head: told first
    target.reset();
    ASSERT_EQ(log.size(), 3u);
    const Holder* order[] = {&c, &b, &a};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(log[i].first, order[i]);
        EXPECT_EQ(log[i].second, Notice(address, 0));
        EXPECT_EQ(log[i].first->ref.GetTarget(), nullptr);
    }
    EXPECT_EQ(LookupEntity(5), nullptr);
}

TEST_F(EntityRefTest, UnlinkedReferenceToADestroyedEntityResolvesToNothing) {
    auto target = std::make_unique<Entity>();
    target->ChangeId(5);
    EntityRef ref;
    ref.InitFromId(0x10000005);
    EXPECT_EQ(ref.GetTarget(), target.get());
    target.reset();
    EXPECT_EQ(ref.GetId(), 0x10000005u) << "an unlinked reference keeps its id";
    EXPECT_EQ(ref.GetTarget(), nullptr) << "and must not hand out the destroyed entity";
}

TEST_F(EntityRefTest, CopyTakesTheIdOnlyAndAssignmentKeepsItsOwnListener) {
    Entity first, second;
    first.ChangeId(5);
    second.ChangeId(6);
    Holder holder;
    holder.ref.SetId(5);
    EntityRef copy(holder.ref);
    EXPECT_EQ(copy.GetId(), 5u);
    EXPECT_EQ(copy.GetListener(), nullptr);

    EntityRef other;
    other.InitFromId(6);
    holder.ref = other;
    EXPECT_EQ(holder.ref.GetListener(), &holder);
    EXPECT_EQ(holder.ref.GetTarget(), &second);
    first.ChangeId(0);
    EXPECT_TRUE(holder.notices.empty()) << "no longer linked to the first entity";
    second.ChangeId(8);
    EXPECT_EQ(holder.ref.GetId(), 8u) << "linked to the second one instead";
    EXPECT_EQ(copy.GetTarget(), nullptr);
}

TEST_F(EntityRefTest, ReferenceDestroyedBeforeItsTargetLeavesTheTargetsList) {
    Entity target;
    target.ChangeId(5);
    Holder keeper;
    keeper.ref.SetId(5);
    {
        Holder gone;
        gone.ref.SetId(5);
    }
    target.ChangeId(0); // walks the list: the gone reference must not be in it
    EXPECT_EQ(keeper.notices.size(), 1u);
}

TEST_F(EntityRefTest, ListenerMayDropAnotherReferenceWhileBeingTold) {
    auto target = std::make_unique<Entity>();
    target->ChangeId(5);
    auto second = std::make_unique<Holder>();
    second->ref.SetId(5);
    Holder first;
    first.ref.SetId(5); // told first
    first.onNotice = [&second] { second.reset(); };
    target.reset();
    EXPECT_EQ(first.notices.size(), 1u);
    EXPECT_EQ(second, nullptr);
}

TEST_F(EntityRefTest, ChangeIdToATakenIdTakesAFreeIdOfTheSameSystemInstead) {
    Entity holder, mover;
    holder.ChangeId(5);
    mover.ChangeId(6);
    mover.ChangeId(5);
    EXPECT_EQ(LookupEntity(5), &holder);
    EXPECT_NE(mover.GetId(), 5u);
    EXPECT_EQ(mover.GetId() & IdSystemMask, 0u);
    EXPECT_EQ(LookupEntity(mover.GetId()), &mover) << "still reachable under its id";
    EXPECT_EQ(LookupEntity(6), nullptr);
    EXPECT_EQ(reports_.Messages().size(), 1u);
}

TEST_F(EntityRefTest, ChangeIdLeavesAnIdThatNamesAnotherEntityAlone) {
    Entity owner, stale;
    stale.ChangeId(5);
    TheIdMap().SetEntry(5, &owner, IdMap::Overwrite); // as after a forced entry
    stale.ChangeId(9);
    EXPECT_EQ(LookupEntity(5), &owner);
    EXPECT_EQ(LookupEntity(9), &stale);
}

TEST_F(EntityRefTest, TakeOverIdMovesTheHoldersReferencesToTheNewEntity) {
    Entity old, replacement;
    old.ChangeId(5);
    Holder a, b;
    a.ref.SetId(5);
    b.ref.SetId(0x30000005);
    replacement.TakeOverId(5);
    EXPECT_EQ(LookupEntity(5), &replacement);
    EXPECT_EQ(old.GetId(), 0u);
    EXPECT_EQ(b.ref.GetTarget(), &replacement);
    EXPECT_EQ(b.ref.GetId(), 0x30000005u);
    EXPECT_EQ(a.notices, std::vector<Notice>{Notice(&replacement, 5)});
    replacement.ChangeId(0);
    EXPECT_EQ(a.ref.GetId(), 0u) << "the moved references are linked to the new entity";
    EXPECT_EQ(b.ref.GetId(), 0u);
}

TEST_F(EntityRefTest, TakeOverIdGivesUpTheTakersPreviousId) {
    Entity old;
    old.ChangeId(5);
    Holder onOld, onTaker;
    onOld.ref.SetId(5);
    auto taker = std::make_unique<Entity>();
    taker->ChangeId(8);
    onTaker.ref.SetId(8);
    taker->TakeOverId(5);
    EXPECT_EQ(LookupEntity(8), nullptr) << "would dangle once the taker is gone";
    EXPECT_EQ(onTaker.ref.GetId(), 5u);
    taker.reset();
    EXPECT_EQ(onOld.ref.GetId(), 0u);
    EXPECT_EQ(onTaker.ref.GetId(), 0u);
    EXPECT_EQ(LookupEntity(5), nullptr);
}

} // namespace
} // namespace quarn
