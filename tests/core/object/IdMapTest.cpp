#include "core/object/IdMap.h"

#include "core/object/Entity.h"
#include "tests/support/RecordingValidityHook.h"

#include <gtest/gtest.h>
#include <set>

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

TEST_F(IdMapTest, IdSystemsAreHandedOutInOrderEachOnceUntilNoneIsLeft) {
    EXPECT_EQ(map_.GetUsedSceneCount(), 1);
    EXPECT_EQ(map_.GetIdSystem(1), nullptr);
    EXPECT_EQ(map_.AllocateScene(&a_), 1);
    EXPECT_EQ(map_.AllocateScene(nullptr), 2);
    EXPECT_TRUE(map_.IsSceneInUse(1));
    EXPECT_FALSE(map_.IsSceneInUse(2)) << "allocated, but without a root";
    map_.FreeScene(1);
    map_.FreeScene(1);
    EXPECT_EQ(map_.GetUsedSceneCount(), 2);
    map_.SetSceneRoot(3, &a_);
    EXPECT_EQ(map_.AllocateScene(&a_), 1);
    EXPECT_EQ(map_.AllocateScene(&b_), 4) << "1 freed twice and 3 taken are not handed out";

    for (int number = 5; number < IdMap::MaxIdSystems; ++number) {
        ASSERT_EQ(map_.AllocateScene(&a_), number);
    }
    EXPECT_TRUE(reports_.Messages().empty());
    EXPECT_EQ(map_.AllocateScene(&a_), -1);
    EXPECT_EQ(reports_.Messages().size(), 1u);
}

TEST_F(IdMapTest, LocalIdsStartAtOneAndSkippedIdsAreFreeExactlyOnce) {
    EXPECT_FALSE(map_.IsIdFree(0x00000000, IdMap::Overwrite));
    EXPECT_FALSE(map_.IsIdFree(0x00500000, 0)) << "not even in a system that does not exist";
    EXPECT_TRUE(map_.IsIdFree(0x00500001, 0));
    EXPECT_FALSE(map_.SetEntry(0x00500000, &a_, IdMap::Overwrite));
    map_.ReleaseId(0x00010000);
    EXPECT_EQ(map_.GetUsedSceneCount(), 1);
    EXPECT_EQ(map_.GetFreeLocalId(0), 1u);
    EXPECT_EQ(map_.GetFreeLocalId(9), 1u) << "a system that does not exist yet";
    ASSERT_TRUE(map_.SetEntry(0x00090003, &a_, 0));
    // Skipping ahead frees 1 and 2, but the root's slot never becomes an id.
    EXPECT_EQ(map_.GetFreeLocalId(9), 2u);

    ASSERT_TRUE(map_.SetEntry(2, &a_, 0));
    ASSERT_TRUE(map_.SetEntry(10, &b_, 0));
    EXPECT_EQ(map_.GetFreeLocalId(0), 9u);
    for (uint32_t id : {1u, 3u, 9u}) {
        EXPECT_TRUE(map_.IsIdFree(id, 0)) << id;
    }
    ASSERT_TRUE(map_.SetEntry(5, &a_, 0)); // from the middle of the free stack
    EXPECT_FALSE(map_.IsIdFree(5, 0));
    map_.ReleaseId(9); // a free id released is taken off the stack, not handed out and refused
    EXPECT_FALSE(map_.IsIdFree(9, 0));
    std::set<uint32_t> handedOut;
    for (int i = 0; i < 6; ++i) {
        const uint32_t id = map_.GetFreeLocalId(0);
        handedOut.insert(id);
        ASSERT_TRUE(map_.SetEntry(id, &a_, 0)) << id;
    }
    EXPECT_EQ(handedOut, (std::set<uint32_t>{1, 3, 4, 6, 7, 8}));
    EXPECT_EQ(map_.GetFreeLocalId(0), 11u);
}

TEST_F(IdMapTest, ReleasedIdsResolveToNothingAndStayUnusedUntilTheirSystemIsReset) {
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

    const uint32_t system = static_cast<uint32_t>(map_.AllocateScene(&a_));
    const uint32_t id = system << 16 | 1;
    ASSERT_TRUE(map_.SetEntry(id, &b_, 0));
    map_.ReleaseId(id);
    map_.ResetScene(system, &a_);
    EXPECT_TRUE(map_.SetEntry(id, &b_, 0));
    EXPECT_EQ(map_.GetIdSystem(system)->GetRoot(), &a_);
}

TEST_F(IdMapTest, FullIdSystemGivesNoIdAndReportsItOnce) {
    for (uint32_t id = 1; id <= 0xFFFF; ++id) {
        ASSERT_TRUE(map_.SetEntry(id, &a_, 0));
    }
    EXPECT_EQ(map_.GetFreeLocalId(0), 0u);
    EXPECT_EQ(map_.GetFreeLocalId(0), 0u);
    EXPECT_EQ(reports_.Messages().size(), 1u);
}

TEST_F(IdMapTest, GuidsAreFoundUnderTheirLatestValueWhileOthersComeAndGo) {
    const Guid before = MakeGuid(1, 0x123), after = MakeGuid(2, 0x020);
    map_.SetSceneGuid(4, before);
    EXPECT_EQ(map_.FindSceneByGuid(before), 4);
    EXPECT_EQ(map_.FindSceneByGuid(Guid()), -1);
    map_.SetSceneGuid(4, after);
    EXPECT_EQ(map_.FindSceneByGuid(after), 4);
    EXPECT_EQ(map_.FindSceneByGuid(before), -1);
    map_.FreeScene(4);
    EXPECT_EQ(map_.FindSceneByGuid(after), -1);

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
