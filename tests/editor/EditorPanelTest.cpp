#include "editor/EditorPanel.h"

#include "editor/MainFrame.h"
#include "tests/editor/FakeFrameHost.h"

#include <gtest/gtest.h>

namespace quarn {
namespace {

LayoutRect RectOf(EditorPanel& panel) {
    const Int2 origin = panel.GetOrigin();
    const Int2 size = panel.GetSize();
    return {origin.x, origin.y, origin.x + size.x, origin.y + size.y};
}

// An 800 x 600 client area and a plain root, laid out once.
class EditorPanelTest : public ::testing::Test {
protected:
    EditorPanelTest() { frame.Layout(0); }

    EditorPanel& root() { return frame.Root(); }

    test::FakeFrameHost host;
    MainFrame frame{host, false};
};

TEST_F(EditorPanelTest, AChildTakesItsStripOnItsSideAndTheBarCoversFourPixels) {
    struct Case {
        int32_t side;
        LayoutRect child;
        LayoutRect bar;
        LayoutRect rest;
    };
    const Case cases[] = {
        {PanelLeft, {0, 0, 98, 600}, {98, 0, 102, 600}, {102, 0, 800, 600}},
        {PanelRight, {702, 0, 800, 600}, {698, 0, 702, 600}, {0, 0, 698, 600}},
        {PanelTop, {0, 0, 800, 98}, {0, 98, 800, 102}, {0, 102, 800, 600}},
        {PanelBottom, {0, 502, 800, 600}, {0, 498, 800, 502}, {0, 0, 800, 498}},
    };
    for (const Case& c : cases) {
        EditorPanel* child = root().CreateChildPanel(c.side, 100);
        ASSERT_NE(child, nullptr);
        EXPECT_EQ(child->GetParent(), &root());
        EXPECT_EQ(RectOf(*child), c.child) << c.side;
        EXPECT_EQ(child->GetSplitter()->Rect(), c.bar) << c.side;
        EXPECT_EQ(RectOf(root()), c.rest) << c.side;
        EXPECT_EQ(child->GetSplitter()->NotifyWindow(), frame.Window());
        EXPECT_EQ(child->GetSplitter()->MarginBefore(), 32);
        // Not docked, it takes the whole free area and leaves the parent all of it.
        child->SetSide(PanelNotDocked);
        EXPECT_EQ(RectOf(*child), (LayoutRect{0, 0, 800, 600}));
        EXPECT_EQ(RectOf(root()), (LayoutRect{0, 0, 800, 600}));
        child->Destroy();
        EXPECT_EQ(root().GetFirstChild(), nullptr);
    }
}

TEST_F(EditorPanelTest, TheHeadOfTheListIsLaidOutFirstAndNestedChildrenSplitTheirParent) {
    EditorPanel* older = root().CreateChildPanel(PanelLeft, 100);
    EditorPanel* newer = root().CreateChildPanel(PanelLeft, 100);
    older->SetSplitterPosition(300);
    newer->SetSplitterPosition(100);
    EXPECT_EQ(root().GetFirstChild(), newer);
    EXPECT_EQ(RectOf(*newer), (LayoutRect{0, 0, 98, 600}));
    EXPECT_EQ(RectOf(*older), (LayoutRect{102, 0, 298, 600}));
    EXPECT_EQ(RectOf(root()), (LayoutRect{302, 0, 800, 600}));

    EditorPanel* nested = older->CreateChildPanel(PanelTop, 50);
    EXPECT_EQ(RectOf(*nested), (LayoutRect{102, 0, 298, 48}));
    EXPECT_EQ(nested->GetSplitter()->Rect(), (LayoutRect{102, 48, 298, 52}));
    EXPECT_EQ(RectOf(*older), (LayoutRect{102, 52, 298, 600}));
    nested->SetWindow(frame.NewWindow());
    EXPECT_EQ(root().FindByWindow(nested->GetWindow()), nested);
    EXPECT_EQ(root().FindByWindow(frame.Window()), &root());
}

TEST_F(EditorPanelTest, AHiddenChildTakesNoSpaceAndLeavesItsBarWhereItWas) {
    EditorPanel* child = root().CreateChildPanel(PanelLeft, 100);
    child->SetVisibleFlag(false);
    EXPECT_EQ(RectOf(root()), (LayoutRect{0, 0, 800, 600}));
    EXPECT_EQ(child->GetSplitter()->Rect(), (LayoutRect{98, 0, 102, 600}));
    EXPECT_TRUE(child->GetSplitter()->IsShown());
    child->SetVisibleFlag(true);
    EXPECT_EQ(RectOf(root()), (LayoutRect{102, 0, 800, 600}));
}

TEST_F(EditorPanelTest, OnlyALayoutThatReadsTheBarsTakesTheirPositions) {
    EditorPanel* child = root().CreateChildPanel(PanelLeft, 100);
    child->GetSplitter()->SetPosition(300);
    frame.Layout(0);
    EXPECT_EQ(child->GetSplitterPosition(), 100);
    EXPECT_EQ(RectOf(*child), (LayoutRect{0, 0, 98, 600}));
    EXPECT_EQ(child->GetSplitter()->Position(), 100) << "the bar is moved back";
    child->GetSplitter()->SetPosition(790);
    frame.Layout(1);
    EXPECT_EQ(child->GetSplitterPosition(), 768) << "clamped by the margin";
    EXPECT_EQ(RectOf(*child), (LayoutRect{0, 0, 766, 600}));
}

TEST(EditorPanel, OnlyTheRootInASunkenFrameIsInsetByItsEdge) {
    test::FakeFrameHost host;
    MainFrame frame(host, true);
    frame.Layout(0);
    EditorPanel& root = frame.Root();
    EXPECT_EQ(root.GetInnerOrigin(), Int2(2, 2));
    EXPECT_EQ(root.GetInnerSize(), Int2(796, 596));
    EditorPanel* child = root.CreateChildPanel(PanelTop, 100);
    child->SetFrameMode(2);
    EXPECT_EQ(child->GetInnerOrigin(), child->GetOrigin());
    EXPECT_EQ(child->GetInnerSize(), child->GetSize());
    EXPECT_EQ(root.GetInnerOrigin(), Int2(2, 104));
}

TEST_F(EditorPanelTest, ExtentsRoundTripAndAMinimumSizeSetsTheMarginOfItsSideOnly) {
    struct Case {
        int32_t side;
        int32_t before;
        int32_t after;
    };
    // A minimum size of 50 x 70: the width is a vertical bar's margin, the height a horizontal's.
    const Case cases[] = {
        {PanelLeft, 50, 32}, {PanelRight, 32, 50}, {PanelTop, 70, 32}, {PanelBottom, 32, 70}};
    for (const Case& c : cases) {
        EditorPanel* child = root().CreateChildPanel(c.side, 100);
        EXPECT_EQ(child->GetExtent(), 100) << c.side;
        child->SetExtent(150);
        EXPECT_EQ(child->GetExtent(), 150) << c.side;
        child->SetMinimumSize(50, 70);
        EXPECT_EQ(child->GetMinimumSize(), Int2(50, 70));
        EXPECT_EQ(child->GetSplitter()->MarginBefore(), c.before) << c.side;
        EXPECT_EQ(child->GetSplitter()->MarginAfter(), c.after) << c.side;
        child->Destroy();
    }
}

TEST_F(EditorPanelTest, DestroyPromotesTheFirstChildWithTheBarAndReparentsTheRest) {
    EditorPanel* doomed = root().CreateChildPanel(PanelLeft, 200);
    EditorPanel* sibling = root().CreateChildPanel(PanelRight, 100);
    EditorPanel* second = doomed->CreateChildPanel(PanelTop, 100);
    EditorPanel* third = doomed->CreateChildPanel(PanelBottom, 100);
    EditorPanel* heir = doomed->CreateChildPanel(PanelTop, 50);
    Splitter* bar = doomed->GetSplitter();
    ASSERT_EQ(root().GetFirstChild(), sibling);
    doomed->Destroy();
    EXPECT_EQ(heir->GetParent(), &root());
    EXPECT_EQ(sibling->GetNextSibling(), heir) << "in the destroyed panel's place";
    EXPECT_EQ(heir->GetPreviousSibling(), sibling);
    EXPECT_EQ(heir->GetNextSibling(), nullptr);
    EXPECT_EQ(heir->GetSide(), PanelLeft);
    EXPECT_EQ(heir->GetSplitterPosition(), 200);
    EXPECT_EQ(heir->GetSplitter(), bar);
    EXPECT_EQ(second->GetParent(), heir);
    EXPECT_EQ(third->GetParent(), heir);
    // The bar it took over still works: a release lays the heir out at once.
    bar->SetPosition(250);
    frame.DeliverPosted();
    EXPECT_EQ(heir->GetSplitterPosition(), 250);
    EXPECT_EQ(heir->GetSize().x, 248);
}

} // namespace
} // namespace quarn
