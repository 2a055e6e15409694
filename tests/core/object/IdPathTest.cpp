#include "core/object/IdPath.h"

#include "core/object/Entity.h"
#include "core/object/IdMap.h"
#include "tests/support/RecordingValidityHook.h"

#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <string>

namespace quarn {
namespace {

const char GuidText[] = "0123456789ABCDEF00112233AABBCCDD";

// A branch node: its contents live in the id system it owns.
class BranchNode : public Entity {
public:
    uint32_t GetIdSystem() const override { return ownSystem; }
    uint32_t ownSystem = 0;
};

TEST(IdPathParse, ReadsUnsignedIdsTheWholePortAndGuidsAndFormatsThemBack) {
    const std::string guidPath = std::string("0x") + GuidText + ".4";
    for (const std::string& text :
         {std::string("12"), std::string("0.7.5-3"), std::string("4294967295"),
          std::string("1.2.3.4.5.6.7-15"), guidPath}) {
        IdPath path;
        ASSERT_TRUE(path.Parse(text.c_str())) << text;
        EXPECT_EQ(path.Format(), text);
    }
    IdPath path;
    ASSERT_TRUE(path.Parse(guidPath.c_str()));
    EXPECT_EQ(path.guid, Guid::FromHex(GuidText));
    EXPECT_EQ(path.count, 1);
    ASSERT_TRUE(path.Parse("0.7.5-12  \"name\""));
    EXPECT_EQ(path.count, 3);
    EXPECT_EQ(path.port, 12u);
    ASSERT_TRUE(path.Parse("5-17"));
    EXPECT_EQ(path.port, 1u) << "masked to the four port bits";
    ASSERT_TRUE(path.Parse("0x0123456789abcdef00112233aabbccdd.4")); // either case
    EXPECT_EQ(path.guid, Guid::FromHex(GuidText));

    const Guid created = Guid::Create(); // random, version 4
    EXPECT_NE(created, Guid::Create());
    EXPECT_EQ(created.words[1] >> 28, 4u);      // top nibble of Data3
    EXPECT_EQ(created.words[2] & 0xC0u, 0x80u); // top bits of Data4[0]
}

TEST(IdPathParse, RefusesCutOffGuidsEightIdsAndTextsWithoutANumber) {
    test::RecordingValidityHook reports;
    IdPath path;
    // Exactly as long as it looks, so reading past its end is caught.
    auto text = std::make_unique<char[]>(5);
    std::memcpy(text.get(), "0x12", 5);
    EXPECT_FALSE(path.Parse(text.get()));
    EXPECT_EQ(path.count, 0);
    EXPECT_FALSE(path.Parse("0x12.5"));
    EXPECT_TRUE(reports.Messages().empty());
    EXPECT_FALSE(path.Parse("1.2.3.4.5.6.7.8"));
    EXPECT_EQ(path.count, 0);
    EXPECT_EQ(reports.Messages().size(), 1u);
    for (const char* text : {static_cast<const char*>(nullptr), "-3", " 5"}) {
        EXPECT_FALSE(path.Parse(text));
        EXPECT_EQ(path.Format(), "");
    }
}

// Id system 0 holds branch node 7; system A (owned by it) holds branch node 3; system B (owned
// by that) holds the target, local id 5.
class IdPathChainTest : public ::testing::Test {
protected:
    void SetUp() override {
        TheIdMap().Clear();
        outer_.ChangeId(7);
        systemA_ = static_cast<uint32_t>(TheIdMap().AllocateScene(&outer_));
        outer_.ownSystem = systemA_;
        inner_.ChangeId(systemA_ << 16 | 3);
        systemB_ = static_cast<uint32_t>(TheIdMap().AllocateScene(&inner_));
        inner_.ownSystem = systemB_;
        target_.ChangeId(systemB_ << 16 | 5);
    }
    void TearDown() override { TheIdMap().Clear(); }

    std::string Path(uint32_t id, uint32_t stop) { return IdPath::FromId(id, stop).Format(); }

    test::RecordingValidityHook reports_;
    BranchNode outer_, inner_;
    Entity target_;
    uint32_t systemA_ = 0, systemB_ = 0;
};

TEST_F(IdPathChainTest, PathClimbsThroughTheBranchesToTheStopSystem) {
    const uint32_t id = target_.GetId();
    EXPECT_EQ(Path(0x20000007, 0), "7-2");
    EXPECT_EQ(Path(id, 0), "7.3.5");
    EXPECT_EQ(Path(id, systemA_), "3.5");
    EXPECT_EQ(Path(id, systemB_), "5");
    // From a file of another id system the path starts at system 0.
    EXPECT_EQ(Path(id | 0x40000000, 99), "0.7.3.5-4");
    for (uint32_t stop : {0u, 99u}) {
        EXPECT_EQ(IdPath::FromId(id | 0x30000000, stop).ToId(), id | 0x30000000) << stop;
    }
    IdPath path;
    ASSERT_TRUE(path.Parse("7.3.5-1"));
    EXPECT_EQ(path.ToId(), id | 0x10000000);
    ASSERT_TRUE(path.Parse("8.3.5"));
    EXPECT_EQ(path.ToId(), 0u) << "no branch 8";

    // Through a global instance the path starts at its GUID, and ToId walks the whole chain.
    TheIdMap().SetSceneGuid(systemA_, Guid::FromHex(GuidText));
    path = IdPath::FromId(id, 0);
    EXPECT_EQ(path.Format(), std::string("0x") + GuidText + ".3.5");
    EXPECT_EQ(path.ToId(), id);
    path.guid = Guid::Create();
    EXPECT_EQ(path.ToId(), 0u) << "no instance with that GUID";

    TheIdMap().ResetScene(systemB_, nullptr); // a system without root counts from 0
    EXPECT_EQ(Path(systemB_ << 16 | 5, 0), "5");
    EXPECT_EQ(Path(systemB_ << 16 | 5, 99), "0.5");
}

TEST_F(IdPathChainTest, ChainDeeperThanAPathHoldsIsReportedNotOverrun) {
    // Two id systems whose roots live in each other: the walk never reaches system 0.
    BranchNode first, second;
    const uint32_t one = static_cast<uint32_t>(TheIdMap().AllocateScene(&first));
    const uint32_t two = static_cast<uint32_t>(TheIdMap().AllocateScene(&second));
    first.ChangeId(two << 16 | 1);
    second.ChangeId(one << 16 | 1);
    TheIdMap().SetSceneRoot(one, &first);
    TheIdMap().SetSceneRoot(two, &second);
    EXPECT_EQ(IdPath::FromId(one << 16 | 2, 0).count, 0);
    EXPECT_EQ(reports_.Messages().size(), 1u);
}

} // namespace
} // namespace quarn
