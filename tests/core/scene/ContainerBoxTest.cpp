#include "core/scene/ContainerBox.h"

#include "core/object/ClassInfo.h"
#include "core/object/IdMap.h"
#include "core/object/MethodInfo.h"
#include "core/object/Signals.h"
#include "core/scene/RenderObjectBounds.h"
#include "core/scene/SceneClasses.h"
#include "tests/support/MathExpectations.h"
#include "tests/support/TestClass.h"
#include "tests/support/TestTree.h"

#include <algorithm>
#include <cstdio>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace quarn {
namespace {

using test::ExpectNear;

// A drawable as the core sees one: a pivot with a world box of half-size `half` around it.
class CbDrawable : public test::TestClass<CbDrawable, Pivot>, public RenderObjectBounds {
public:
    static constexpr const char* Name = "ContainerBoxTestDrawable";

    CbDrawable() { SetFlag(NodeKindRenderObject, true); }
    Aabb GetWorldBoundingBox() override {
        const Float3 p = GetWorldPosition();
        return {p - half, p + half};
    }

    Float3 half{1.0f, 1.0f, 1.0f};
};

// Hears the editor's selection signals.
class CbSelection : public test::TestClass<CbSelection> {
public:
    static constexpr const char* Name = "ContainerBoxTestSelection";
    static void Declare(ClassInfo& info) {
        info.AddMethod("selectnode", "()", BindSignalHandler<&CbSelection::OnSelect>(), 0);
        info.AddMethod("selectnodealso", "()", BindSignalHandler<&CbSelection::OnSelect>(), 0);
    }
    void OnSelect(void* argument) { selected.push_back(static_cast<Entity*>(argument)); }

    std::vector<Entity*> selected;
};

class ContainerBoxTest : public ::testing::Test {
protected:
    void SetUp() override {
        TheIdMap().Clear();
        RegisterSceneClasses();
    }
    void TearDown() override { TheIdMap().Clear(); }

    ContainerBox* Box(uint32_t flags, Float3 position = Float3(), Node* parent = nullptr) {
        auto* box = tree_.Make<ContainerBox>("box");
        box->SetPosition(position);
        box->SetExtentFlags(flags);
        if (parent) {
            box->AttachAsLast(parent);
        }
        return box;
    }
    // Placed first and attached afterwards, as a moved-in node arrives.
    template <class T = Pivot>
    T* At(Float3 position, Node* parent, int32_t mode = MatrixNormal) {
        auto* node = tree_.Make<T>("node");
        node->SetMatrixMode(mode);
        node->SetPosition(position);
        node->AttachAsLast(parent);
        return node;
    }
    static Float3 Min(ContainerBox* box) { return box->GetExtentsMin(); }
    static Float3 Max(ContainerBox* box) { return box->GetExtentsMax(); }

    test::TestTree tree_;
};

TEST_F(ContainerBoxTest, ANewBoxReadsZeroUntilARefreshSpansItsChildren) {
    ContainerBox* box = Box(ExtentsVisualCull, Float3(2.0f, 0.0f, 0.0f));
    At(Float3(3.0f, 1.0f, 0.0f), box);
    At<CbDrawable>(Float3(-1.0f, 2.0f, 4.0f), box);
    ExpectNear(Min(box), Float3());
    ExpectNear(Max(box), Float3());
    ExpectNear(box->GetExtents().max, Float3());

    uint32_t block[1] = {};
    box->FindMethod("RefreshExtents")->Call(box, block);
    // Child positions are local to the box at x = 2; the drawable counts by its world box.
    ExpectNear(Min(box), Float3(0.0f, 1.0f, 0.0f));
    ExpectNear(Max(box), Float3(5.0f, 3.0f, 5.0f));

    // Nothing below: the box shrinks to the container's own position.
    ContainerBox* empty = Box(ExtentsVisualCull, Float3(7.0f, 8.0f, 9.0f));
    empty->UpdateExtents();
    ExpectNear(Min(empty), Float3(7.0f, 8.0f, 9.0f));
    ExpectNear(Max(empty), Float3(7.0f, 8.0f, 9.0f));
}

TEST_F(ContainerBoxTest, AttachedPivotsGrowTheirFacesAndAFaceNodeLeavingStalesTheBox) {
    ContainerBox* box = Box(ExtentsAutoExpand | ExtentsAutoShrink);
    Pivot* left = At(Float3(-1.0f, 0.0f, 0.0f), box);
    Pivot* middle = At(Float3(0.5f, 0.0f, 0.0f), box);
    ExpectNear(Max(box), Float3(0.5f, 0.0f, 0.0f));
    Pivot* right = At(Float3(5.0f, 0.0f, 0.0f), box);
    EXPECT_FALSE(box->IsStale());
    EXPECT_FLOAT_EQ(Max(box).x, 5.0f);
    EXPECT_FLOAT_EQ(Min(box).x, -1.0f);
    EXPECT_EQ(box->GetPeripheryNode(3), right->GetSerial());
    EXPECT_EQ(box->GetPeripheryNode(0), left->GetSerial());

    middle->Detach(); // defines no face
    EXPECT_FALSE(box->IsStale());
    right->Detach();
    EXPECT_TRUE(box->IsStale());
    EXPECT_FLOAT_EQ(Max(box).x, -1.0f);
}

TEST_F(ContainerBoxTest, MovedPivotsGrowEveryExpandingBoxAboveAndStaleShrinkingOnes) {
    ContainerBox* outer = Box(ExtentsAutoExpand);
    ContainerBox* inner = Box(ExtentsAutoExpand, Float3(), outer);
    Pivot* pivot = At(Float3(1.0f, 0.0f, 0.0f), inner);
    ASSERT_FLOAT_EQ(Max(outer).x, 1.0f);
    pivot->SetPosition(Float3(4.0f, 0.0f, 0.0f));
    EXPECT_FLOAT_EQ(inner->GetExtents().max.x, 4.0f);
    EXPECT_FLOAT_EQ(outer->GetExtents().max.x, 4.0f);
    EXPECT_EQ(outer->GetPeripheryNode(3), pivot->GetSerial());

    ContainerBox* shrinking = Box(ExtentsAutoShrink);
    Pivot* face = At(Float3(2.0f, 0.0f, 0.0f), shrinking);
    ASSERT_FLOAT_EQ(Max(shrinking).x, 2.0f);
    face->SetPosition(Float3(1.0f, 0.0f, 0.0f));
    EXPECT_TRUE(shrinking->IsStale());
    EXPECT_FLOAT_EQ(Max(shrinking).x, 1.0f);
}

TEST_F(ContainerBoxTest, PivotsAcrossTheScreenSplitAreIgnoredAndScreenOrIdentityOnesCoverAll) {
    struct Case {
        int32_t containerMode;
        int32_t childMode;
        float expectedMaxX; // the container's own position when the child is ignored
    };
    const Case cases[] = {
        {MatrixNormal, MatrixScreen, 0.0f},
        {MatrixNormal, MatrixQuarn, 1e24f},
        {MatrixScreen, MatrixNormal, 0.0f},
        {MatrixViewSpace, MatrixScreen, 1e24f},
    };
    for (const Case& c : cases) {
        ContainerBox* box = Box(ExtentsVisualCull);
        box->SetMatrixMode(c.containerMode);
        At(Float3(50.0f, 0.0f, 0.0f), box, c.childMode);
        box->UpdateExtents();
        EXPECT_FLOAT_EQ(Max(box).x, c.expectedMaxX) << c.containerMode << " " << c.childMode;
        EXPECT_FLOAT_EQ(Min(box).x, -c.expectedMaxX) << c.containerMode << " " << c.childMode;
    }
}

TEST_F(ContainerBoxTest, AChildContainerCountsByItsOwnBoxOnly) {
    ContainerBox* outer = Box(ExtentsVisualCull);
    ContainerBox* inner = Box(ExtentsAutoExpand, Float3(), outer);
    Pivot* near = At(Float3(3.0f, 0.0f, 0.0f), inner);
    ContainerBox* deeper = Box(ExtentsVisualCull, Float3(), inner);
    deeper->SetExtentsMin(Float3(-2.0f, -2.0f, -2.0f));
    deeper->SetExtentsMax(Float3(2.0f, 2.0f, 2.0f));
    At(Float3(100.0f, 0.0f, 0.0f), deeper); // beyond the box its container keeps

    outer->UpdateExtents();
    ExpectNear(Min(outer), Float3(-2.0f, -2.0f, -2.0f));
    ExpectNear(Max(outer), Float3(3.0f, 2.0f, 2.0f));
    EXPECT_EQ(outer->GetPeripheryNode(3), near->GetSerial()); // taken over from the inner box
}

TEST_F(ContainerBoxTest, ARelativeBoxGrowsInItsOwnSpaceAndItsCullingBoxFollowsItsMoves) {
    ContainerBox* box = Box(ExtentsAutoExpand | ExtentsRelative, Float3(10.0f, 0.0f, 0.0f));
    At(Float3(1.0f, 0.0f, 0.0f), box);
    ExpectNear(Max(box), Float3(1.0f, 0.0f, 0.0f));
    At(Float3(3.0f, 0.0f, 0.0f), box); // grows by its box turned into the container's space
    ExpectNear(Min(box), Float3(1.0f, 0.0f, 0.0f));
    ExpectNear(Max(box), Float3(3.0f, 0.0f, 0.0f));
    ExpectNear(box->GetExtents().max, Float3(13.0f, 0.0f, 0.0f));

    box->SetPosition(Float3(20.0f, 5.0f, 0.0f));
    EXPECT_FALSE(box->IsStale());
    const Aabb moved = box->GetExtents();
    ExpectNear(moved.min, Float3(21.0f, 5.0f, 0.0f));
    ExpectNear(moved.max, Float3(23.0f, 5.0f, 0.0f));
}

TEST_F(ContainerBoxTest, SelectingTheFaceNodesNamesEachLiveOneOnceAndNeverANewcomer) {
    auto* selection = static_cast<CbSelection*>(CbSelection::RegisterClass()->CreateInstance());
    AddSignalListener("selectnode", selection);
    AddSignalListener("selectnodealso", selection);
    ContainerBox* box = Box(ExtentsAutoExpand);
    Pivot* left = At(Float3(-1.0f, 0.0f, 0.0f), box);
    Pivot* right = At(Float3(5.0f, 0.0f, 0.0f), box);

    box->SelectPeripheryNodes();
    const std::vector<Entity*> named = {left, nullptr, nullptr, right, nullptr, nullptr};
    EXPECT_EQ(selection->selected, named);

    right->Delete();
    Pivot* newcomer = At(Float3(0.0f, 0.0f, 0.0f), box);
    selection->selected.clear();
    box->SelectPeripheryNodes();
    const std::vector<Entity*> afterwards = {left, nullptr, nullptr, nullptr, nullptr, nullptr};
    EXPECT_EQ(selection->selected, afterwards);
    EXPECT_NE(box->GetPeripheryNode(3), newcomer->GetSerial());
    selection->Delete();
}

// A chain of a few hundred links with boxes of every kind along it and drawables and plain
// nodes between: each link placed after it arrives, as a load places it, then some moved again.
// What each box ends with (stale or not, its corners, the depth of each face's node) is what
// the walk over every parent gave, before moves were carried only to the ancestors that hear.
TEST_F(ContainerBoxTest, MovesInADeepChainReachEachBoxAboveWhateverLiesBetween) {
    const uint32_t boxFlags[] = {ExtentsAutoExpand, ExtentsAutoShrink,
                                 ExtentsAutoExpand | ExtentsAutoShrink, ExtentsVisualCull,
                                 ExtentsAutoExpand | ExtentsRelative};
    std::vector<ContainerBox*> boxes = {Box(ExtentsAutoExpand)};
    std::vector<Node*> links = {boxes[0]};
    for (int depth = 1; depth <= 300; ++depth) {
        Node* link = depth % 50 == 0   ? Box(boxFlags[(depth / 50) % 5])
                     : depth % 7 == 0  ? tree_.Make<CbDrawable>("drawable")
                     : depth % 11 == 0 ? tree_.Make<Node>("plain")
                                       : tree_.Make<Pivot>("link");
        link->AttachAsLast(links.back());
        if (Pivot* pivot = AsPivot(link)) {
            pivot->SetPosition(Float3(static_cast<float>(depth % 3 - 1) * 0.5f, 0.1f,
                                      depth % 5 == 0 ? 1.0f : 0.0f));
        }
        if (ContainerBox* box = AsContainerBox(link)) {
            boxes.push_back(box);
        }
        links.push_back(link);
    }
    for (int depth = 37; depth <= 300; depth += 37) {
        if (Pivot* pivot = AsPivot(links[depth])) {
            pivot->SetPosition(Float3(static_cast<float>(depth % 4), 0.1f, -1.0f));
        }
    }
    std::string seen;
    for (ContainerBox* box : boxes) {
        seen += box->IsStale() ? "stale" : "valid";
        for (int face = 0; face < ContainerBox::FaceCount; ++face) {
            const uint64_t serial = box->GetPeripheryNode(face);
            const auto link = std::find_if(links.begin(), links.end(), [serial](Node* node) {
                return node->GetSerial() == serial;
            });
            seen += ' ';
            seen += link == links.end() ? std::string("-") : std::to_string(link - links.begin());
        }
        const Aabb extents = box->GetExtents();
        char corners[160];
        std::snprintf(corners, sizeof(corners), " (%.3f %.3f %.3f)-(%.3f %.3f %.3f)\n",
                      extents.min.x, extents.min.y, extents.min.z, extents.max.x, extents.max.y,
                      extents.max.z);
        seen += corners;
    }
    EXPECT_EQ(seen,
              "stale 14 7 - 259 294 300 (-1.500 -0.300 0.000)-(8.000 14.500 25.000)\n"
              "valid 63 - - 140 147 147 (-0.500 0.000 0.000)-(8.000 14.500 25.000)\n"
              "valid - - - 140 147 147 (0.000 0.000 0.000)-(8.000 14.500 25.000)\n"
              "stale - - - - - - (0.000 0.000 0.000)-(0.000 0.000 0.000)\n"
              "valid 245 203 203 259 294 300 (5.000 17.600 30.000)-(12.500 28.100 49.000)\n"
              "stale 252 252 259 259 294 300 (7.500 22.300 38.000)-(13.500 28.100 46.000)\n"
              "valid 300 300 300 300 300 300 (11.500 27.600 46.000)-(11.500 27.600 46.000)\n");
}

} // namespace
} // namespace quarn
