#include "core/IdPath.h"

#include "core/Entity.h"
#include "core/IdMap.h"
#include "tests/support/RecordingValidityHook.h"

#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace quarn {
namespace {

const char GuidText[] = "0123456789ABCDEF00112233AABBCCDD";

Guid SampleGuid() {
    return Guid::FromHex(GuidText);
}

// A branch node: its contents live in the id system it owns.
class BranchNode : public Entity {
public:
    uint32_t GetIdSystem() const override { return ownSystem; }
    uint32_t ownSystem = 0;
};

TEST(Guid, HexIsUpperCaseWordZeroFirst) {
    Guid guid;
    guid.words[0] = 0x01234567;
    guid.words[1] = 0x89abcdef;
    guid.words[3] = 0xa;
    EXPECT_EQ(guid.ToHex(), "0123456789ABCDEF000000000000000A");
    EXPECT_EQ(Guid::FromHex(guid.ToHex().c_str()), guid);
    EXPECT_EQ(Guid::FromHex("0123456789abcdef000000000000000a"), guid);
}

TEST(Guid, FromHexStopsAtTheFirstOtherCharacterKeepingWhatItRead) {
    const char* text = "12g";
    const char* end = nullptr;
    Guid guid = Guid::FromHex(text, &end);
    EXPECT_EQ(guid.words[0], 0x12000000u);
    EXPECT_EQ(end, text + 2);
}

TEST(Guid, CreatedGuidsAreRandomVersionFour) {
    Guid first = Guid::Create();
    Guid second = Guid::Create();
    EXPECT_NE(first, second);
    EXPECT_EQ(first.words[1] >> 28, 4u);      // top nibble of Data3
    EXPECT_EQ(first.words[2] & 0xC0u, 0x80u); // top bits of Data4[0]
}

TEST(IdPathParse, ReadsASingleId) {
    IdPath path;
    ASSERT_TRUE(path.Parse("12"));
    EXPECT_EQ(path.count, 1);
    EXPECT_EQ(path.ids[0], 12u);
    EXPECT_EQ(path.port, 0u);
    EXPECT_TRUE(path.guid.IsZero());
}

TEST(IdPathParse, ReadsAChainWithAPort) {
    IdPath path;
    ASSERT_TRUE(path.Parse("0.7.5-3  \"name\""));
    ASSERT_EQ(path.count, 3);
    EXPECT_EQ(path.ids[0], 0u);
    EXPECT_EQ(path.ids[1], 7u);
    EXPECT_EQ(path.ids[2], 5u);
    EXPECT_EQ(path.ids[3], 0u);
    EXPECT_EQ(path.port, 3u);
}

TEST(IdPathParse, ReadsTheWholePortNumber) {
    IdPath path;
    ASSERT_TRUE(path.Parse("5-12"));
    EXPECT_EQ(path.port, 12u);
    ASSERT_TRUE(path.Parse("5-17"));
    EXPECT_EQ(path.port, 1u) << "masked to the four port bits";
}

TEST(IdPathParse, ReadsIdsAsUnsigned32BitNumbers) {
    IdPath path;
    ASSERT_TRUE(path.Parse("4294967295"));
    EXPECT_EQ(path.ids[0], 0xFFFFFFFFu);
    ASSERT_TRUE(path.Parse("3000000000.5"));
    EXPECT_EQ(path.ids[0], 3000000000u);
}

TEST(IdPathParse, ReadsAGuidPath) {
    IdPath path;
    std::string text = std::string("0x") + GuidText + ".4";
    ASSERT_TRUE(path.Parse(text.c_str()));
    EXPECT_EQ(path.guid, SampleGuid());
    ASSERT_EQ(path.count, 1);
    EXPECT_EQ(path.ids[0], 4u);
}

TEST(IdPathParse, RefusesACutOffGuidWithoutReadingPastTheText) {
    IdPath path;
    // Exactly as long as it looks, so reading past its end is caught.
    auto text = std::make_unique<char[]>(5);
    std::memcpy(text.get(), "0x12", 5);
    EXPECT_FALSE(path.Parse(text.get()));
    EXPECT_EQ(path.count, 0);
    EXPECT_FALSE(path.Parse("0x12.5"));
}

TEST(IdPathParse, TakesSevenIdsAndRefusesEight) {
    test::RecordingValidityHook reports;
    IdPath path;
    ASSERT_TRUE(path.Parse("1.2.3.4.5.6.7"));
    EXPECT_EQ(path.count, IdPath::MaxIds);
    EXPECT_EQ(path.ids[6], 7u);

    EXPECT_FALSE(path.Parse("1.2.3.4.5.6.7.8"));
    EXPECT_EQ(path.count, 0);
    EXPECT_EQ(reports.Messages().size(), 1u);
}

TEST(IdPathParse, RefusesTextsWithoutANumber) {
    IdPath path;
    EXPECT_FALSE(path.Parse(nullptr));
    EXPECT_FALSE(path.Parse(""));
    EXPECT_FALSE(path.Parse("-3"));
    EXPECT_FALSE(path.Parse(" 5"));
    EXPECT_EQ(path.count, 0);
    ASSERT_TRUE(path.Parse("5..")); // dots without digits add ids of 0
    EXPECT_EQ(path.count, 3);
}

TEST(IdPathFormat, WritesGuidIdsAndPort) {
    IdPath path;
    path.guid = SampleGuid();
    path.ids[0] = 4;
    path.count = 1;
    EXPECT_EQ(path.Format(), std::string("0x") + GuidText + ".4");

    IdPath chain;
    chain.ids[1] = 7;
    chain.ids[2] = 5;
    chain.count = 3;
    chain.port = 12;
    EXPECT_EQ(chain.Format(), "0.7.5-12");
    chain.count = 0;
    chain.port = 0;
    EXPECT_EQ(chain.Format(), "");
}

TEST(IdPathFormat, RoundTripsThroughParse) {
    for (const char* text : {"12", "0.7.5-3", "3000000000", "1.2.3.4.5.6.7-15"}) {
        IdPath path;
        ASSERT_TRUE(path.Parse(text)) << text;
        EXPECT_EQ(path.Format(), text);
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

    std::vector<uint32_t> Ids(const IdPath& path) {
        return std::vector<uint32_t>(path.ids, path.ids + path.count);
    }

    test::RecordingValidityHook reports_;
    BranchNode outer_, inner_;
    Entity target_;
    uint32_t systemA_ = 0, systemB_ = 0;
};

TEST_F(IdPathChainTest, IdInIdSystemZeroIsJustItsLocalId) {
    EXPECT_EQ(IdPath::FromId(7, 0).Format(), "7");
    EXPECT_EQ(IdPath::FromId(0x20000007, 0).Format(), "7-2");
}

TEST_F(IdPathChainTest, PathClimbsThroughTheBranchesToTheStopSystem) {
    uint32_t id = target_.GetId();
    EXPECT_EQ(Ids(IdPath::FromId(id, 0)), (std::vector<uint32_t>{7, 3, 5}));
    EXPECT_EQ(Ids(IdPath::FromId(id, systemA_)), (std::vector<uint32_t>{3, 5}));
    EXPECT_EQ(Ids(IdPath::FromId(id, systemB_)), (std::vector<uint32_t>{5}));
    // From a file of another id system the path starts at system 0.
    EXPECT_EQ(IdPath::FromId(id | 0x40000000, 99).Format(), "0.7.3.5-4");
}

TEST_F(IdPathChainTest, PathThroughAGlobalInstanceStartsAtItsGuid) {
    TheIdMap().SetSceneGuid(systemA_, SampleGuid());
    IdPath path = IdPath::FromId(target_.GetId(), 0);
    EXPECT_EQ(path.Format(), std::string("0x") + GuidText + ".3.5");
    EXPECT_EQ(path.ToId(), target_.GetId());
}

TEST_F(IdPathChainTest, PathOfAnIdSystemWithoutRootCountsFromZero) {
    TheIdMap().ResetScene(systemB_, nullptr);
    EXPECT_EQ(IdPath::FromId(systemB_ << 16 | 5, 0).Format(), "5");
    EXPECT_EQ(IdPath::FromId(systemB_ << 16 | 5, 99).Format(), "0.5");
}

TEST_F(IdPathChainTest, ToIdWalksBackDownTheChain) {
    for (uint32_t stop : {0u, 99u}) {
        uint32_t id = target_.GetId() | 0x30000000;
        EXPECT_EQ(IdPath::FromId(id, stop).ToId(), id) << stop;
    }
    IdPath path;
    ASSERT_TRUE(path.Parse("7.3.5-1"));
    EXPECT_EQ(path.ToId(), target_.GetId() | 0x10000000);
}

TEST_F(IdPathChainTest, ToIdOfAPathThatNamesNothingIsZero) {
    IdPath path;
    ASSERT_TRUE(path.Parse("8.3.5"));
    EXPECT_EQ(path.ToId(), 0u) << "no branch 8";
    path.guid = Guid::Create();
    EXPECT_EQ(path.ToId(), 0u) << "no instance with that GUID";
}

TEST_F(IdPathChainTest, ChainDeeperThanAPathHoldsIsReportedNotOverrun) {
    // Two id systems whose roots live in each other: the walk never reaches system 0.
    BranchNode first, second;
    uint32_t one = static_cast<uint32_t>(TheIdMap().AllocateScene(&first));
    uint32_t two = static_cast<uint32_t>(TheIdMap().AllocateScene(&second));
    first.ChangeId(two << 16 | 1);
    second.ChangeId(one << 16 | 1);
    TheIdMap().SetSceneRoot(one, &first);
    TheIdMap().SetSceneRoot(two, &second);

    IdPath path = IdPath::FromId(one << 16 | 2, 0);

    EXPECT_EQ(path.count, 0);
    EXPECT_EQ(reports_.Messages().size(), 1u);
}

} // namespace
} // namespace quarn
