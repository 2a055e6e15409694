#include "core/scene/Picking.h"

#include "tests/support/FakeCamera.h"
#include "tests/support/MathExpectations.h"
#include "tests/support/TestClass.h"
#include "tests/support/TestTree.h"

#include <gtest/gtest.h>

namespace quarn {
namespace {

using test::ExpectNear;

// A drawable whose ray test answers what the test set.
class FakeDrawable : public test::TestClass<FakeDrawable, Node>, public Pickable {
public:
    static constexpr const char* Name = "PickingTestDrawable";

    FakeDrawable() { SetFlag(NodeKindRenderObject, true); }

    bool IsVisible() override { return visible; }
    bool IntersectRay(const Float3&, const Float3&, PickQuery& query) override {
        ++tests;
        if (!hit) {
            return false;
        }
        query.current.distance = distance;
        query.current.part = part;
        query.current.data = Float3(distance, 0.0f, 0.0f);
        return true;
    }
    uint32_t GetRenderFlags() const override { return renderFlags; }
    int32_t GetRenderType() const override { return renderType; }

    bool visible = true;
    bool hit = true;
    float distance = 1.0f;
    int32_t part = -1;
    uint32_t renderFlags = RenderClickable;
    int32_t renderType = 0;
    int tests = 0;
};

class PickingTest : public ::testing::Test {
protected:
    void SetUp() override {
        TheIdMap().Clear();
        root_ = tree_.Make<Node>("root");
        TheIdMap().SetSceneRoot(0, root_);
        camera_.SetPose({0.0f, 0.0f, -2.0f}, Quaternion());
    }
    void TearDown() override {
        CurrentCamera = nullptr;
        TheIdMap().Clear();
    }

    FakeDrawable* Drawable(float distance, Node* parent = nullptr) {
        FakeDrawable* drawable = tree_.Make<FakeDrawable>("drawable", parent ? parent : root_);
        drawable->distance = distance;
        return drawable;
    }
    bool Pick() { return query_.PickNode(root_, Float3(), Float3(0.0f, 0.0f, 1.0f)); }

    test::TestTree tree_;
    test::FakeCamera camera_;
    Node* root_ = nullptr;
    PickQuery query_;
};

TEST_F(PickingTest, NearestHitWinsAndAHitAtDistanceZeroIsIgnored) {
    Drawable(5.0f);
    FakeDrawable* nearest = Drawable(2.0f);
    Drawable(0.0f);
    Drawable(3.0f);
    EXPECT_TRUE(Pick());
    EXPECT_EQ(query_.best.node, nearest);

    FakeDrawable* touching = tree_.Make<FakeDrawable>("touching");
    touching->distance = 0.0f;
    PickQuery nothing;
    EXPECT_FALSE(nothing.PickNode(touching, Float3(), Float3(0.0f, 0.0f, 1.0f)));
}

TEST_F(PickingTest, BackdropNeverBeatsASpriteAndZBiasWinsATie) {
    CurrentCamera = &camera_;
    FakeDrawable* backdrop = Drawable(0.001f);
    backdrop->renderType = RenderTypeBackdrop;
    FakeDrawable* sprite = Drawable(400.0f);
    EXPECT_TRUE(Pick());
    EXPECT_EQ(query_.best.node, sprite);

    CurrentCamera = nullptr;
    query_.Reset(1e24f);
    backdrop->hit = false;
    sprite->hit = false;
    FakeDrawable* biased = Drawable(1.0f);
    biased->renderFlags |= RenderZBias;
    Drawable(1.0f);
    EXPECT_TRUE(Pick());
    EXPECT_EQ(query_.best.node, biased);
}

TEST_F(PickingTest, FortyHitsListTheFirstThirtyTwoWhileTheBestIsTheNearestOfAll) {
    query_.Init(1e24f, PickRecordHits, 0, 0);
    FakeDrawable* nearest = nullptr;
    for (int i = 0; i < 40; ++i) {
        FakeDrawable* drawable = Drawable(100.0f - static_cast<float>(i));
        nearest = drawable;
    }
    EXPECT_TRUE(Pick());
    EXPECT_EQ(query_.hitCount, PickQuery::MaxHits);
    EXPECT_EQ(query_.hits[PickQuery::MaxHits - 1].distance, 69.0f);
    EXPECT_EQ(query_.best.node, nearest);
    EXPECT_EQ(query_.best.distance, 61.0f);
}

TEST_F(PickingTest, ScreenPickSortsTheHitsAndPlacesTheHitPointAtTheNearestPartOrNowhere) {
    EXPECT_FALSE(query_.PickFromScreen(0.0f, 0.0f)); // no camera
    CurrentCamera = &camera_;
    FakeDrawable* far = Drawable(7.0f);
    far->part = 4;
    Drawable(2.0f); // nearest, but names no part
    FakeDrawable* middle = Drawable(5.0f);
    middle->part = 9;
    EXPECT_TRUE(query_.PickFromScreen(0.0f, 0.0f));
    ASSERT_EQ(query_.hitCount, 3);
    EXPECT_EQ(query_.hits[1].distance, 5.0f);
    EXPECT_EQ(query_.hits[2].distance, 7.0f);
    EXPECT_EQ(query_.best.part, 9);
    EXPECT_TRUE(query_.hasWorldHitPoint);
    ExpectNear(query_.worldHitPoint, {0.0f, 0.0f, 3.0f});
    // Without a part among the hits no stale hit point is left.
    far->part = middle->part = -1;
    EXPECT_TRUE(query_.PickFromScreen(0.0f, 0.0f));
    EXPECT_FALSE(query_.hasWorldHitPoint);
    ExpectNear(query_.worldHitPoint, {0.0f, 0.0f, 0.0f});
}

} // namespace
} // namespace quarn
