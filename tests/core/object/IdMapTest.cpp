#include "core/object/IdMap.h"

#include "core/object/Entity.h"
#include "tests/support/RecordingValidityHook.h"

#include <gtest/gtest.h>

namespace quarn {
namespace {

class IdMapTest : public ::testing::Test {
protected:
    void SetUp() override { map_.Clear(); }

    static Guid MakeGuid(uint32_t first, uint32_t last) {
        Guid guid;
        guid.words[0] = first;
        guid.words[3] = last;
        return guid;
    }

    IdMap map_;
    Entity a_, b_;
    test::RecordingValidityHook reports_;
};

TEST_F(IdMapTest, ClearLeavesIdSystemZeroAloneAndHandsOutTheRestInOrder) {
    EXPECT_EQ(map_.GetUsedSceneCount(), 1);
    ASSERT_NE(map_.GetIdSystem(0), nullptr);
    EXPECT_EQ(map_.GetIdSystem(0)->GetRoot(), nullptr);
    EXPECT_EQ(map_.GetIdSystem(1), nullptr);
    EXPECT_FALSE(map_.IsSceneInUse(0));
    EXPECT_EQ(map_.AllocateScene(&a_), 1);
    EXPECT_EQ(map_.AllocateScene(&b_), 2);
    EXPECT_EQ(map_.AllocateScene(nullptr), 3);
    EXPECT_EQ(map_.GetUsedSceneCount(), 4);
    EXPECT_TRUE(map_.IsSceneInUse(1));
    EXPECT_FALSE(map_.IsSceneInUse(3)) << "allocated, but without a root";
}

TEST_F(IdMapTest, FirstLocalIdOfAnIdSystemIsOneNeverZero) {
    EXPECT_EQ(map_.GetFreeLocalId(0), 1u);
    EXPECT_EQ(map_.GetFreeLocalId(9), 1u) << "a system that does not exist yet";
    ASSERT_TRUE(map_.SetEntry(0x00090003, &a_, 0));
    // Skipping ahead frees 1 and 2, but the root's slot never becomes an id.
    EXPECT_EQ(map_.GetFreeLocalId(9), 2u);
    ASSERT_TRUE(map_.SetEntry(0x00090002, &a_, 0));
    ASSERT_TRUE(map_.SetEntry(0x00090001, &a_, 0));
    EXPECT_EQ(map_.GetFreeLocalId(9), 4u);
}

TEST_F(IdMapTest, SettingAnIdFarBeyondTheEntriesFreesEverySkippedId) {
    ASSERT_TRUE(map_.SetEntry(1, &a_, 0));
    ASSERT_TRUE(map_.SetEntry(2, &a_, 0));
    ASSERT_TRUE(map_.SetEntry(10, &b_, 0));
    EXPECT_EQ(map_.GetFreeLocalId(0), 9u);
    for (uint32_t id = 3; id < 10; ++id) {
        EXPECT_TRUE(map_.IsIdFree(id, 0)) << id;
        EXPECT_EQ(map_.Lookup(id), nullptr) << id;
    }
    EXPECT_EQ(map_.Lookup(10), &b_);
    ASSERT_TRUE(map_.SetEntry(9, &a_, 0));
    EXPECT_EQ(map_.GetFreeLocalId(0), 8u);
    ASSERT_TRUE(map_.SetEntry(5, &a_, 0)); // from the middle of the stack
    EXPECT_FALSE(map_.IsIdFree(5, 0));
    const uint32_t next = map_.GetFreeLocalId(0);
    EXPECT_NE(next, 5u);
    EXPECT_TRUE(map_.IsIdFree(next, 0));
}

TEST_F(IdMapTest, ReleasedIdResolvesToNothingAndIsNeverHandedOutAgain) {
    for (uint32_t id = 1; id <= 5; ++id) {
        ASSERT_TRUE(map_.SetEntry(id, &a_, 0));
    }
    map_.ReleaseId(5);
    map_.ReleaseId(3);
    EXPECT_EQ(map_.Lookup(5), nullptr);
    EXPECT_FALSE(map_.IsIdFree(5, 0));
    EXPECT_TRUE(map_.IsIdFree(5, IdMap::Overwrite));
    EXPECT_EQ(map_.GetFreeLocalId(0), 6u);
    EXPECT_FALSE(map_.SetEntry(5, &b_, 0));
    EXPECT_TRUE(map_.SetEntry(5, &b_, IdMap::Overwrite));
    EXPECT_EQ(map_.Lookup(5), &b_);
}

TEST_F(IdMapTest, ReleasingAFreeIdTakesItOffTheFreeStack) {
    ASSERT_TRUE(map_.SetEntry(10, &a_, 0));
    map_.ReleaseId(9);
    EXPECT_EQ(map_.GetFreeLocalId(0), 8u) << "9 would be handed out and then refused";
    EXPECT_FALSE(map_.IsIdFree(9, 0));
}

TEST_F(IdMapTest, ResettingAnIdSystemMakesItsReleasedIdsUsableAgain) {
    const uint32_t system = static_cast<uint32_t>(map_.AllocateScene(&a_));
    const uint32_t id = system << 16 | 1;
    ASSERT_TRUE(map_.SetEntry(id, &b_, 0));
    map_.ReleaseId(id);
    map_.ResetScene(system, &a_);
    EXPECT_TRUE(map_.SetEntry(id, &b_, 0));
    EXPECT_EQ(map_.GetIdSystem(system)->GetRoot(), &a_);
}

TEST_F(IdMapTest, LocalIdZeroIsNeverFree) {
    EXPECT_FALSE(map_.IsIdFree(0x00000000, IdMap::Overwrite));
    EXPECT_FALSE(map_.IsIdFree(0x00500000, 0)) << "not even in a system that does not exist";
    EXPECT_TRUE(map_.IsIdFree(0x00500001, 0));
    EXPECT_FALSE(map_.SetEntry(0x00500000, &a_, IdMap::Overwrite));
    map_.ReleaseId(0x00010000);
    EXPECT_EQ(map_.GetUsedSceneCount(), 1);
}

TEST_F(IdMapTest, FullIdSystemGivesNoIdAndReportsItOnce) {
    for (uint32_t id = 1; id <= 0xFFFF; ++id) {
        ASSERT_TRUE(map_.SetEntry(id, &a_, 0));
    }
    EXPECT_EQ(map_.GetFreeLocalId(0), 0u);
    EXPECT_EQ(map_.GetFreeLocalId(0), 0u);
    EXPECT_EQ(reports_.Messages().size(), 1u);
}

TEST_F(IdMapTest, FreeingAnIdSystemTwiceCountsItOnce) {
    EXPECT_EQ(map_.AllocateScene(&a_), 1);
    map_.FreeScene(1);
    map_.FreeScene(1);
    EXPECT_EQ(map_.GetUsedSceneCount(), 1);
    EXPECT_EQ(map_.AllocateScene(&a_), 1);
    EXPECT_EQ(map_.AllocateScene(&b_), 2) << "1 must not be handed out twice";
}

TEST_F(IdMapTest, IdSystemTakenThroughSetSceneRootIsNotHandedOut) {
    map_.SetSceneRoot(1, &a_);
    EXPECT_EQ(map_.GetUsedSceneCount(), 2);
    EXPECT_EQ(map_.AllocateScene(&b_), 2);
}

TEST_F(IdMapTest, AllocatingWhenEveryIdSystemIsTakenReportsAndGivesMinusOne) {
    for (int number = 1; number < IdMap::MaxIdSystems; ++number) {
        ASSERT_EQ(map_.AllocateScene(&a_), number);
    }
    EXPECT_TRUE(reports_.Messages().empty());
    EXPECT_EQ(map_.AllocateScene(&a_), -1);
    EXPECT_EQ(reports_.Messages().size(), 1u);
}

TEST_F(IdMapTest, GuidOfAnIdSystemIsFoundUnderItsLatestValueUntilItIsFreed) {
    const Guid before = MakeGuid(1, 0x123), after = MakeGuid(2, 0x020);
    map_.SetSceneGuid(4, before);
    EXPECT_EQ(map_.FindSceneByGuid(before), 4);
    EXPECT_EQ(map_.FindSceneByGuid(MakeGuid(2, 0x123)), -1);
    EXPECT_EQ(map_.FindSceneByGuid(Guid()), -1);
    map_.SetSceneGuid(4, after);
    EXPECT_EQ(map_.FindSceneByGuid(after), 4);
    EXPECT_EQ(map_.FindSceneByGuid(before), -1);
    map_.FreeScene(4);
    EXPECT_EQ(map_.FindSceneByGuid(after), -1);
}

TEST_F(IdMapTest, RemovingAGuidKeepsCollidingGuidsFindable) {
    // Three GUIDs that start at the same bucket, the last one wrapping past the end.
    const Guid first = MakeGuid(1, 0xFFF), second = MakeGuid(2, 0x1FFF),
               third = MakeGuid(3, 0x2FFF);
    map_.SetSceneGuid(1, first);
    map_.SetSceneGuid(2, second);
    map_.SetSceneGuid(3, third);
    EXPECT_EQ(map_.FindSceneByGuid(third), 3);
    map_.SetSceneGuid(1, Guid());
    EXPECT_EQ(map_.FindSceneByGuid(first), -1);
    EXPECT_EQ(map_.FindSceneByGuid(second), 2);
    EXPECT_EQ(map_.FindSceneByGuid(third), 3);
    map_.SetSceneGuid(2, MakeGuid(4, 0x500));
    EXPECT_EQ(map_.FindSceneByGuid(third), 3);
}

} // namespace
} // namespace quarn
