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

TEST_F(EntityRefTest, LookupIgnoresPortBitsAndALinkedReferenceFollowsItsTarget) {
    Entity target;
    target.ChangeId(5);
    EXPECT_EQ(LookupEntity(0x00070005), nullptr) << "an id system that does not exist";
    Holder holder;
    EXPECT_EQ(holder.ref.SetId(0x20000005), &target);
    target.ChangeId(9);
    EXPECT_EQ(holder.ref.GetId(), 0x20000009u);
    EXPECT_EQ(holder.ref.GetTarget(), &target);
    EXPECT_EQ(holder.notices, std::vector<Notice>{Notice(&target, 9)});
    EXPECT_EQ(LookupEntity(5), nullptr);
    EXPECT_EQ(LookupEntity(0x30000009), &target);
}

TEST_F(EntityRefTest, ChangeIdToZeroOrDestructionTellsEveryLinkedReferenceInListOrder) {
    Log log;
    Holder a(&log), b(&log), c(&log);
    Entity first;
    first.ChangeId(5);
    auto second = std::make_unique<Entity>();
    second->ChangeId(6);
    for (Entity* target : {&first, second.get()}) {
        log.clear();
        const uint32_t id = target->GetId();
        a.ref.SetId(id);
        b.ref.SetId(id | 0x10000000);
        c.ref.SetId(id); // linked at the head: told first
        if (target == &first) {
            first.ChangeId(0);
        } else {
            second.reset();
        }
        ASSERT_EQ(log.size(), 3u) << id;
        const Holder* order[] = {&c, &b, &a};
        for (size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(log[i].first, order[i]) << id;
            EXPECT_EQ(log[i].second, Notice(target, 0)) << id;
            EXPECT_EQ(log[i].first->ref.GetId(), 0u) << id;
            EXPECT_EQ(log[i].first->ref.GetTarget(), nullptr) << id;
        }
        EXPECT_EQ(LookupEntity(id), nullptr) << id;
    }
}

TEST_F(EntityRefTest, UnlinkedReferencesAndCopiesHoldTheIdAndResolveItOnEveryRead) {
    auto target = std::make_unique<Entity>();
    target->ChangeId(5);
    Entity second;
    second.ChangeId(6);
    Holder holder;
    holder.ref.SetId(5);
    EntityRef copy(holder.ref);
    EXPECT_EQ(copy.GetListener(), nullptr);
    EXPECT_EQ(copy.GetTarget(), target.get());

    // Assignment takes the id and keeps the reference's own listener.
    EntityRef other;
    other.InitFromId(6);
    holder.ref = other;
    EXPECT_EQ(holder.ref.GetListener(), &holder);
    EXPECT_EQ(holder.ref.GetTarget(), &second);
    second.ChangeId(8);
    EXPECT_EQ(holder.ref.GetId(), 8u) << "linked to the second entity";
    target.reset();
    EXPECT_EQ(holder.notices, std::vector<Notice>{Notice(&second, 8)}) << "none from the first";
    EXPECT_EQ(copy.GetId(), 5u) << "an unlinked reference keeps its id";
    EXPECT_EQ(copy.GetTarget(), nullptr) << "and must not hand out the destroyed entity";
}

TEST_F(EntityRefTest, ReferencesMayGoBeforeTheirTargetEvenWhileItIsTellingThem) {
    auto target = std::make_unique<Entity>();
    target->ChangeId(5);
    Holder keeper;
    keeper.ref.SetId(5);
    {
        Holder gone;
        gone.ref.SetId(5);
    }
    auto second = std::make_unique<Holder>();
    second->ref.SetId(5);
    Holder first;
    first.ref.SetId(5); // told first
    first.onNotice = [&second] { second.reset(); };
    target.reset(); // walks the list: neither gone reference may be in it
    EXPECT_EQ(first.notices.size(), 1u);
    EXPECT_EQ(keeper.notices.size(), 1u);
    EXPECT_EQ(second, nullptr);
}

TEST_F(EntityRefTest, ChangeIdReleasesOnlyItsOwnIdAndNeverTakesAnEntitysId) {
    Entity holder, mover;
    holder.ChangeId(5);
    mover.ChangeId(6);
    mover.ChangeId(5);
    EXPECT_EQ(LookupEntity(5), &holder);
    EXPECT_NE(mover.GetId(), 5u);
    EXPECT_EQ(mover.GetId() & IdSystemMask, 0u) << "a free id of the same system instead";
    EXPECT_EQ(LookupEntity(mover.GetId()), &mover);
    EXPECT_EQ(LookupEntity(6), nullptr);
    EXPECT_EQ(reports_.Messages().size(), 1u);

    Entity owner, stale;
    stale.ChangeId(15);
    TheIdMap().SetEntry(15, &owner, IdMap::Overwrite); // as after a forced entry
    stale.ChangeId(19);
    EXPECT_EQ(LookupEntity(15), &owner);
    EXPECT_EQ(LookupEntity(19), &stale);
}

TEST_F(EntityRefTest, TakeOverIdMovesTheReferencesAndGivesUpTheTakersOldId) {
    Entity old;
    old.ChangeId(5);
    Holder a, b, onTaker;
    a.ref.SetId(5);
    b.ref.SetId(0x30000005);
    auto taker = std::make_unique<Entity>();
    taker->ChangeId(8);
    onTaker.ref.SetId(8);
    taker->TakeOverId(5);
    EXPECT_EQ(LookupEntity(5), taker.get());
    EXPECT_EQ(old.GetId(), 0u);
    EXPECT_EQ(b.ref.GetTarget(), taker.get());
    EXPECT_EQ(b.ref.GetId(), 0x30000005u);
    EXPECT_EQ(a.notices, std::vector<Notice>{Notice(taker.get(), 5)});
    EXPECT_EQ(LookupEntity(8), nullptr) << "would dangle once the taker is gone";
    EXPECT_EQ(onTaker.ref.GetId(), 5u);
    taker.reset();
    for (Holder* holder : {&a, &b, &onTaker}) {
        EXPECT_EQ(holder->ref.GetId(), 0u) << "the moved references are linked to the taker";
    }
    EXPECT_EQ(LookupEntity(5), nullptr);
}

} // namespace
} // namespace quarn
