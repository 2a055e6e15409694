#include "render/LineDrawer.h"

#include "resources/DynamicMesh.h"
#include "tests/render/RenderTestSupport.h"
#include "tests/support/MathExpectations.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <vector>

namespace quarn {
namespace {

using test::MockupBoxStandIn;

// Derived from it under a name of its own.
class DerivedBox : public test::TestClass<DerivedBox, MockupBoxStandIn> {
public:
    static constexpr const char* Name = "MockupCrate";
};

class LineDrawerTest : public test::RenderScene {
public:
    void SetUp() override {
        RenderScene::SetUp();
        ASSERT_TRUE(CreateDebugMeshes());
        LineDrawer::RegisterClass();
        MockupBoxStandIn::RegisterClass();
        DerivedBox::RegisterClass();
        level_ = tree_.Make<Node>("level", root_);
        drawer_ = tree_.Make<LineDrawer>("drawer", level_);
    }
    void TearDown() override {
        DestroyDebugMeshes();
        RenderScene::TearDown();
    }
    template <class Box = MockupBoxStandIn>
    Box* MakeBox(Float3 at, Node* parent = nullptr) {
        auto* box = tree_.Make<Box>("box", parent ? parent : level_);
        box->SetPosition(at);
        return box;
    }

    Node* MakeGroup(Node* parent) { return tree_.Make<Node>("group", parent); }

    Node* level_ = nullptr;
    LineDrawer* drawer_ = nullptr;
};

TEST_F(LineDrawerTest, EachEnabledBoxGivesItsTwelveEdgesInTableOrder) {
    MakeBox({0, 0, 0});
    MakeBox({10, 0, 0})->SetScale(2.0f);
    drawer_->CollectMockupBoxLines();
    const auto& segments = drawer_->GetSegments();
    ASSERT_EQ(segments.size(), 24u);
    // Bottom ring, top ring, then the uprights, each from its corner of the table.
    const Float3 bottom[4] = {{-1, -2, -3}, {1, -2, -3}, {1, -2, 3}, {-1, -2, 3}};
    for (size_t i = 0; i < 4; ++i) {
        const Float3 top = bottom[i] + Float3(0, 4, 0);
        const Float3 nextTop = bottom[(i + 1) % 4] + Float3(0, 4, 0);
        test::ExpectNear(segments[i].start, bottom[i]);
        test::ExpectNear(segments[i].end, bottom[(i + 1) % 4]);
        test::ExpectNear(segments[4 + i].start, top);
        test::ExpectNear(segments[4 + i].end, nextTop);
        test::ExpectNear(segments[8 + i].start, bottom[i]);
        test::ExpectNear(segments[8 + i].end, top);
        // The second box in its world place.
        test::ExpectNear(segments[12 + i].start, bottom[i] * 2.0f + Float3(10, 0, 0));
    }
}

TEST_F(LineDrawerTest, OnlyEnabledBoxesOfTheExactClassAreOutlined) {
    struct Case {
        const char* what;
        void (*build)(LineDrawerTest&);
        size_t segments;
    };
    const Case cases[] = {
        {"a parent without boxes", [](LineDrawerTest&) {}, 0},
        {"a disabled box over an enabled one",
         [](LineDrawerTest& t) {
             MockupBoxStandIn* off = t.MakeBox({0, 0, 0});
             off->SetFlag(NodeEnabled, false);
             MockupBoxStandIn* on = t.MakeBox({5, 0, 0}, off);
             on->SetFlag(NodeEnabled | NodeEnabledAll, true);
         },
         12},
        {"a derived class", [](LineDrawerTest& t) { t.MakeBox<DerivedBox>({0, 0, 0}); }, 0},
        {"a box deep below a plain node",
         [](LineDrawerTest& t) {
             t.MakeBox({0, 0, 0}, t.MakeGroup(t.MakeGroup(t.level_)));
         },
         12},
    };
    for (const Case& c : cases) {
        level_->DeleteChildren();
        drawer_ = tree_.Make<LineDrawer>("drawer", level_);
        c.build(*this);
        drawer_->CollectMockupBoxLines();
        EXPECT_EQ(drawer_->GetSegments().size(), c.segments) << c.what;
    }
    // Without a parent there is nothing to walk; boxes beside the parent are not its.
    auto* alone = tree_.Make<LineDrawer>("alone");
    MakeBox({0, 0, 0}, root_);
    alone->CollectMockupBoxLines();
    EXPECT_TRUE(alone->GetSegments().empty());
}

TEST_F(LineDrawerTest, TheOutlineIsDrawnInTheColourWithTheOpacityAsAlpha) {
    MakeBox({0, 0, 10});
    drawer_->CollectMockupBoxLines();
    drawer_->SetPosition({0, 0, 10});
    drawer_->SetColor(0xFF0000);
    // The box's near bottom edge runs along y = -2 at z = 7, the x axis of the view's middle.
    struct Case {
        float opacity;
        uint32_t pixel;
    };
    const Case cases[] = {
        {1.0f, 0xFFFF0000},
        {0.5f, 0xFF7F0000}, // 127, not 128
        {std::numeric_limits<float>::quiet_NaN(), Black},
        {1.5f, 0xFFFF0000}, // not spilled into the colour
    };
    for (const Case& c : cases) {
        drawer_->SetOpacity(c.opacity);
        Frame(Black);
        const Float2 p = CurrentCameraWorldToScreen({0, -2, 7});
        EXPECT_EQ(Pixel(32, static_cast<uint32_t>(p.y)), c.pixel) << c.opacity;
    }
    // The line width is only stored.
    const std::vector<uint32_t> thin = Image();
    ASSERT_NE(thin, std::vector<uint32_t>(thin.size(), Black));
    drawer_->SetLineWidth(8);
    Frame(Black);
    EXPECT_EQ(Image(), thin);
}

} // namespace
} // namespace quarn
