#include "editor/Splitter.h"

#include <gtest/gtest.h>

namespace quarn {
namespace {

class FakeBarHost : public SplitterHost {
public:
    LayoutRect ParentClientRect() override { return client; }
    void PostSizeNotify(PanelWindow) override { ++notifies; }
    void CaptureMouse(Splitter* splitter, bool capture) override {
        captured = capture ? splitter : nullptr;
    }
    void ShowCursor(CursorShape shape) override { shown = shape; }
    void Forget(Splitter* splitter) override {
        if (captured == splitter) {
            captured = nullptr;
        }
    }

    LayoutRect client{0, 0, 800, 600};
    int32_t notifies = 0;
    Splitter* captured = nullptr;
    CursorShape shown = CursorShape::Arrow;
};

// A vertical bar centred on x = 400, or a horizontal one on y = 300, 4 pixels thick.
Splitter MakeBar(FakeBarHost& host, bool vertical, uint32_t styles = 0) {
    return vertical ? Splitter(host, {398, 0, 402, 600}, styles | SplitterStyleVertical)
                    : Splitter(host, {0, 298, 800, 302}, styles);
}

TEST(Splitter, ClampsBetweenItsMarginsAndSnapsOntoALimitWithinTheSnapDistance) {
    struct Case {
        bool vertical;
        bool snap;
        int32_t asked;
        int32_t expected;
    };
    // Margins 32 before and 50 after: a vertical bar lies in 32..750, a horizontal one in
    // 32..550.
    const Case cases[] = {
        {true, false, 31, 32},   {true, false, 33, 33},   {true, false, 750, 750},
        {true, false, 751, 750}, {true, true, 41, 32},    {true, true, 42, 42},
        {true, true, 740, 740},  {true, true, 741, 750},  {false, false, 551, 550},
        {false, true, 541, 550}, {false, true, 540, 540}, {false, true, -7, 32},
    };
    for (const Case& c : cases) {
        FakeBarHost host;
        Splitter bar = MakeBar(host, c.vertical, c.snap ? SplitterStyleSnap : 0u);
        bar.SetMargin(32, MarginBoth);
        bar.SetMargin(50, c.vertical ? MarginAfterVertical : MarginAfterHorizontal);
        EXPECT_EQ(bar.SetPosition(c.asked), c.expected) << c.vertical << c.snap << c.asked;
        EXPECT_EQ(host.notifies, 1);
    }
}

TEST(Splitter, AMarginKindIsHonouredOnlyForItsOwnAxis) {
    struct Case {
        bool vertical;
        int32_t kind;
        int32_t before;
        int32_t after;
    };
    const Case cases[] = {
        {false, MarginBeforeHorizontal, 7, 0},
        {false, MarginAfterHorizontal, 0, 7},
        {false, MarginBeforeVertical, 0, 0},
        {false, MarginAfterVertical, 0, 0},
        {true, MarginBeforeHorizontal, 0, 0},
        {true, MarginAfterHorizontal, 0, 0},
        {true, MarginBeforeVertical, 7, 0},
        {true, MarginAfterVertical, 0, 7},
        {true, MarginBoth, 7, 7},
        {false, MarginBoth, 7, 7},
        {true, 5, 0, 0},
    };
    for (const Case& c : cases) {
        FakeBarHost host;
        Splitter bar = MakeBar(host, c.vertical);
        bar.SetMargin(7, c.kind);
        EXPECT_EQ(bar.MarginBefore(), c.before) << c.vertical << " " << c.kind;
        EXPECT_EQ(bar.MarginAfter(), c.after) << c.vertical << " " << c.kind;
    }
}

TEST(Splitter, KeysMoveAFocusedBarByOneOrByTheSnapStepAtALimit) {
    struct Case {
        bool vertical;
        int32_t from;
        SplitterKey key;
        int32_t expected;
    };
    // Margins 32, snap 10 (step 11): a vertical bar lies in 32..768, a horizontal in 32..568.
    const Case cases[] = {
        {true, 768, SplitterKey::Left, 757},   {true, 757, SplitterKey::Left, 756},
        {true, 400, SplitterKey::Left, 399},   {true, 400, SplitterKey::Right, 401},
        {true, 32, SplitterKey::Right, 43},    {true, 43, SplitterKey::Left, 42},
        {true, 42, SplitterKey::Left, 32},     {true, 758, SplitterKey::Right, 768},
        {true, 400, SplitterKey::Home, 32},    {true, 400, SplitterKey::End, 768},
        {true, 400, SplitterKey::PageUp, 400}, {true, 400, SplitterKey::Up, 400},
        {false, 568, SplitterKey::Up, 557},    {false, 32, SplitterKey::Down, 43},
        {false, 300, SplitterKey::PageUp, 32}, {false, 300, SplitterKey::PageDown, 568},
        {false, 300, SplitterKey::Home, 300},  {false, 300, SplitterKey::Right, 300},
    };
    for (const Case& c : cases) {
        FakeBarHost host;
        Splitter bar = MakeBar(host, c.vertical, SplitterStyleSnap);
        bar.SetMargin(32, MarginBoth);
        bar.SetPosition(c.from);
        ASSERT_EQ(bar.Position(), c.from);
        bar.KeyDown(c.key);
        EXPECT_EQ(bar.Position(), c.from) << "not focused";
        bar.SetFocus(true);
        bar.KeyDown(c.key);
        EXPECT_EQ(bar.Position(), c.expected)
            << c.vertical << " " << c.from << " " << static_cast<int>(c.key);
        bar.SetKeyboardControl(false);
        bar.KeyDown(c.key);
        EXPECT_EQ(bar.Position(), c.expected) << "keyboard control off";
    }
}

TEST(Splitter, WithoutLiveDragOnlyTheDrawnBarFollowsUntilTheRelease) {
    for (bool live : {false, true}) {
        FakeBarHost host;
        Splitter bar = MakeBar(host, true, live ? SplitterStyleLiveDrag : 0u);
        bar.SetMargin(32, MarginBoth);
        bar.MouseMove({400, 10});
        EXPECT_EQ(host.shown, CursorShape::SizeWestEast);
        bar.ButtonDown();
        EXPECT_EQ(host.captured, &bar);
        bar.MouseMove({500, 10});
        bar.MouseMove({790, 10});
        EXPECT_EQ(bar.Position(), live ? 768 : 400);
        EXPECT_EQ(host.notifies, live ? 2 : 0);
        EXPECT_EQ(bar.DragPosition(), live ? 400 : 768) << "the drawn bar is clamped too";
        EXPECT_TRUE(bar.ButtonUp({520, 10}));
        EXPECT_EQ(bar.Position(), 520);
        EXPECT_EQ(host.notifies, live ? 3 : 1);
        EXPECT_EQ(host.captured, nullptr);
        EXPECT_FALSE(bar.ButtonUp({600, 10})) << "no drag is on";
        // The position from before the drag comes back, notified.
        EXPECT_EQ(bar.RestoreSavedPosition(), 400);
        EXPECT_EQ(host.notifies, live ? 4 : 2);
    }
}

TEST(Splitter, ADisabledBarIgnoresTheMouseAndTheKeys) {
    FakeBarHost host;
    Splitter bar(host, {398, 0, 402, 600}, SplitterStyleVertical | SplitterStyleLiveDrag, true);
    bar.SetFocus(true);
    bar.ButtonDown();
    bar.MouseMove({500, 10});
    EXPECT_FALSE(bar.ButtonUp({500, 10}));
    bar.KeyDown(SplitterKey::Right);
    EXPECT_EQ(bar.Position(), 400);
    EXPECT_EQ(host.captured, nullptr);
    EXPECT_EQ(host.notifies, 0);
    // Enabled again it drags; disabled in the middle of a drag it lets the mouse go.
    bar.Enable(true);
    bar.ButtonDown();
    EXPECT_EQ(host.captured, &bar);
    bar.Enable(false);
    EXPECT_EQ(host.captured, nullptr);
    EXPECT_EQ(bar.Flags() & SplitterDragging, 0u);
}

} // namespace
} // namespace quarn
