#include "editor/MainFrame.h"

#include "core/os/WindowMessage.h"
#include "tests/editor/FakeFrameHost.h"

#include <gtest/gtest.h>

namespace quarn {
namespace {

// A sunken frame below a 30-pixel toolbar in an 800 x 600 client area, with a panel docked
// left at 200.
class MainFrameTest : public ::testing::Test {
protected:
    MainFrameTest() {
        frame.SetTopOffset(30);
        frame.Layout(0);
        panel = frame.Root().CreateChildPanel(PanelLeft, 200);
        frame.DeliverPosted();
        host.resized.clear();
    }

    void Mouse(uint32_t message, int32_t x, int32_t y) {
        frame.HandleMouse(message, 0, PackWords(x, y));
    }

    test::FakeFrameHost host;
    MainFrame frame{host, true};
    EditorPanel* panel = nullptr;
};

TEST_F(MainFrameTest, ASizeChangeLaysOutBelowTheToolbarAndTellsTheHookOfTheInnerView) {
    EXPECT_EQ(MainFrame::Get(), &frame);
    host.client = {0, 0, 1000, 700};
    frame.HandleSize();
    ASSERT_FALSE(host.resized.empty());
    EXPECT_EQ(host.resized.back(), (LayoutRect{204, 32, 998, 698}));
    EXPECT_EQ(panel->GetSize(), Int2(198, 670));
    // A hook that takes the size message keeps it from the frame.
    frame.SetMessageHook(
        [](uint32_t message, uintptr_t, intptr_t) { return message == MessageSize ? 1 : 0; });
    host.resized.clear();
    frame.HandleSize();
    EXPECT_TRUE(host.resized.empty());
}

TEST_F(MainFrameTest, ABarsNotifyWaitsForTheMessageAndALayoutInsideALayoutIsIgnored) {
    // Asking for a layout while one runs (as a panel's own changes do) starts none.
    int32_t nestedCalls = -1;
    host.onClientRect = [&] {
        if (nestedCalls >= 0) {
            return;
        }
        const int32_t before = host.clientRectCalls;
        frame.Layout(1);
        nestedCalls = host.clientRectCalls - before;
    };
    frame.Layout(0);
    host.onClientRect = nullptr;
    EXPECT_EQ(nestedCalls, 0);

    panel->GetSplitter()->SetPosition(300);
    EXPECT_EQ(panel->GetSplitterPosition(), 200) << "nothing before the message ends";
    frame.DeliverPosted();
    EXPECT_EQ(panel->GetSplitterPosition(), 300);
    ASSERT_EQ(host.resized.size(), 1u);
    EXPECT_EQ(host.resized[0], (LayoutRect{304, 32, 798, 598}));
}

TEST_F(MainFrameTest, TheEditorViewOffHidesEveryPanelAndGivesTheViewTheWholeFrame) {
    EditorPanel* second = frame.Root().CreateChildPanel(PanelBottom, 100);
    EXPECT_TRUE(frame.QueryActivePanel());
    frame.SetEditorView(false);
    EXPECT_FALSE(frame.QueryActivePanel());
    for (EditorPanel* child : {panel, second}) {
        EXPECT_FALSE(child->IsVisible());
        EXPECT_FALSE(child->GetSplitter()->IsShown());
    }
    EXPECT_EQ(frame.Root().GetFrameMode(), 0);
    EXPECT_EQ(frame.Root().GetInnerOrigin(), Int2(0, 30));
    EXPECT_EQ(frame.Root().GetInnerSize(), Int2(800, 570));
    EXPECT_EQ(host.resized.back(), (LayoutRect{0, 30, 800, 600}));
    // A hidden bar takes no clicks: the press reaches the view.
    Mouse(MessageLeftButtonDown, 200, 100);
    EXPECT_EQ(host.mouse.size(), 1u);

    frame.SetEditorView(true);
    EXPECT_TRUE(frame.QueryActivePanel());
    EXPECT_TRUE(panel->IsVisible() && second->IsVisible());
    EXPECT_EQ(frame.Root().GetFrameMode(), 2);
    EXPECT_EQ(frame.Root().GetInnerOrigin(), Int2(204, 32));
}

TEST_F(MainFrameTest, ABarTakesItsClicksAndKeysWhileTheViewsGoToTheMouseOnce) {
    // A drag across the bar: the panel follows at the release.
    Mouse(MessageMouseMove, 200, 100);
    EXPECT_EQ(host.cursor, CursorShape::SizeWestEast);
    Mouse(MessageLeftButtonDown, 201, 100);
    EXPECT_TRUE(host.captured);
    EXPECT_EQ(frame.Focused(), panel->GetSplitter());
    Mouse(MessageMouseMove, 260, 100);
    Mouse(MessageMouseMove, 350, 500);
    EXPECT_EQ(panel->GetSplitterPosition(), 200);
    Mouse(MessageLeftButtonUp, 350, 500);
    EXPECT_FALSE(host.captured);
    EXPECT_EQ(panel->GetSplitterPosition(), 350);
    EXPECT_EQ(host.resized.back(), (LayoutRect{354, 32, 798, 598}));
    EXPECT_TRUE(host.mouse.empty());

    // The focused bar takes its keys.
    EXPECT_TRUE(frame.HandleKey(SplitterKey::Right));
    EXPECT_EQ(panel->GetSplitterPosition(), 351);

    // A press in the view (its edge is not) reaches the mouse and takes the focus back; its
    // release reaches the mouse even outside the view.
    Mouse(MessageLeftButtonDown, 353, 100);
    EXPECT_TRUE(host.mouse.empty());
    Mouse(MessageMouseMove, 600, 100);
    EXPECT_EQ(host.cursor, CursorShape::Arrow);
    Mouse(MessageRightButtonDown, 600, 100);
    Mouse(MessageMouseWheel, 600, 100);
    Mouse(MessageRightButtonUp, 10, 10);
    Mouse(MessageLeftButtonUp, 10, 10);
    ASSERT_EQ(host.mouse.size(), 3u);
    EXPECT_EQ(host.mouse[0].message, static_cast<uint32_t>(MessageRightButtonDown));
    EXPECT_EQ(host.mouse[1].message, static_cast<uint32_t>(MessageMouseWheel));
    EXPECT_EQ(host.mouse[2].message, static_cast<uint32_t>(MessageRightButtonUp));
    EXPECT_EQ(frame.Focused(), nullptr);
    EXPECT_FALSE(frame.HandleKey(SplitterKey::Right));
}

} // namespace
} // namespace quarn
