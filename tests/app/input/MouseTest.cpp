#include "app/input/Mouse.h"

#include "app/platform/WindowMessage.h"

#include <gtest/gtest.h>

namespace quarn {
namespace {

class FakePointer : public PointerSource {
public:
    Int2 GetCursorPosition() override { return cursor; }
    void SetCursorPosition(int32_t x, int32_t y) override { cursor = {x, y}; }
    double GetTime() override { return seconds; }
    void SetCapture(bool capture) override { captured = capture; }

    Int2 cursor;
    double seconds = 10.0;
    bool captured = false;
};

class MouseTest : public ::testing::Test {
protected:
    void MoveTo(int32_t x, int32_t y) {
        pointer.cursor = {x, y};
        mouse.Poll();
    }
    void Send(uint32_t message, uintptr_t detail = 0) { mouse.HandleMessage(message, detail, 0); }

    FakePointer pointer;
    Mouse mouse{pointer};
};

TEST_F(MouseTest, QuickStillReleaseIsAClickForOneFrame) {
    MoveTo(10, 10);
    Send(MessageLeftButtonDown);
    EXPECT_TRUE(pointer.captured);
    pointer.seconds += 0.1875; // 187 ms, exact in binary
    MoveTo(14, 10);
    Send(MessageLeftButtonUp);
    EXPECT_FALSE(pointer.captured);
    EXPECT_TRUE(mouse.WasClicked(MouseLeft));
    EXPECT_TRUE(mouse.WentUp(MouseLeft, ""));
    mouse.EndFrame();
    EXPECT_FALSE(mouse.WasClicked(MouseLeft));
}

TEST_F(MouseTest, SlowOrMovedReleaseIsNoClick) {
    MoveTo(0, 0);
    Send(MessageRightButtonDown);
    pointer.seconds += 0.203125; // 203 ms
    Send(MessageRightButtonUp);
    EXPECT_FALSE(mouse.WasClicked(MouseRight));

    Send(MessageMiddleButtonDown);
    MoveTo(3, 4); // five pixels
    Send(MessageMiddleButtonUp);
    EXPECT_FALSE(mouse.WasClicked(MouseMiddle));
}

TEST_F(MouseTest, DoubleClickSetsItsOwnButtonAndNotTheLeftDownBit) {
    Send(MessageLeftButtonDown);
    Send(MessageLeftButtonUp);
    mouse.EndFrame();
    Send(MessageLeftButtonDoubleClick);
    EXPECT_TRUE(mouse.WentDown(MouseDoubleClick, ""));
    EXPECT_TRUE(mouse.IsDown(MouseDoubleClick, ""));
    EXPECT_FALSE(mouse.IsDown(MouseLeft, ""));
    Send(MessageLeftButtonUp);
    EXPECT_FALSE(mouse.IsDown(MouseDoubleClick, ""));
    EXPECT_TRUE(mouse.WentUp(MouseDoubleClick, ""));
    EXPECT_FALSE(mouse.WasClicked(MouseLeft));
}

TEST_F(MouseTest, WheelSumsTheFrameAndEndFrameResetsIt) {
    Send(MessageMouseWheel, static_cast<uintptr_t>(PackWords(0, 120)));
    Send(MessageMouseWheel, static_cast<uintptr_t>(PackWords(0, 240)));
    Send(MessageMouseWheel, static_cast<uintptr_t>(PackWords(0, -120)));
    EXPECT_EQ(mouse.GetWheel(), 240);
    mouse.EndFrame();
    EXPECT_EQ(mouse.GetWheel(), 0);
}

TEST_F(MouseTest, FrameWithoutEndFrameKeepsPressAndWheel) {
    Send(MessageLeftButtonDown);
    Send(MessageMouseWheel, static_cast<uintptr_t>(PackWords(0, 120)));
    mouse.Poll();
    EXPECT_TRUE(mouse.WentDown(MouseLeft, ""));
    EXPECT_EQ(mouse.GetWheel(), 120);
}

TEST_F(MouseTest, OwnedButtonAnswersOnlyItsOwnerUntilReleased) {
    Send(MessageLeftButtonDown);
    mouse.SetOwner(MouseLeft, "gizmo");
    EXPECT_FALSE(mouse.IsDown(MouseLeft, ""));
    EXPECT_TRUE(mouse.IsDown(MouseLeft, "gizmo"));
    mouse.ConsumePress(MouseLeft); // owned presses stay
    EXPECT_TRUE(mouse.WentDown(MouseLeft, "gizmo"));
    Send(MessageLeftButtonUp);
    mouse.EndFrame();
    EXPECT_FALSE(mouse.HasOwner(MouseLeft));
}

TEST_F(MouseTest, ConsumedPressIsHiddenButTheButtonStaysDown) {
    Send(MessageLeftButtonDown);
    mouse.ConsumePress(MouseLeft);
    EXPECT_FALSE(mouse.WentDown(MouseLeft, ""));
    EXPECT_TRUE(mouse.IsDown(MouseLeft, ""));
}

TEST_F(MouseTest, ButtonsOutsideTheFourAreIgnored) {
    mouse.SetOwner(7, "x");
    EXPECT_FALSE(mouse.HasOwner(7));
    EXPECT_STREQ(mouse.GetOwner(-1), "");
    EXPECT_FALSE(mouse.IsDown(4, ""));
}

TEST_F(MouseTest, DeltaIsTheMoveSinceTheLastPoll) {
    MoveTo(5, 5);
    MoveTo(8, 1);
    EXPECT_EQ(mouse.GetDelta().x, 3);
    EXPECT_EQ(mouse.GetDelta().y, -4);
    mouse.SetPosition(0, 0);
    EXPECT_EQ(pointer.cursor.x, 0);
    EXPECT_EQ(mouse.GetPosition().y, 0);
}

} // namespace
} // namespace quarn
