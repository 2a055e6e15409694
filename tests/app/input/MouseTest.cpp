#include "app/input/Mouse.h"

#include "app/platform/WindowMessage.h"

#include <gtest/gtest.h>
#include <string>

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
    void Wheel(int32_t delta) {
        Send(MessageMouseWheel, static_cast<uintptr_t>(PackWords(0, delta)));
    }
    // What the mouse says of a button this frame, for an owner: "d" down, "+" went down, "-"
    // went up, "c" clicked.
    std::string Seen(int32_t button, const char* owner = "") const {
        return std::string(mouse.IsDown(button, owner) ? "d" : "") +
               (mouse.WentDown(button, owner) ? "+" : "") +
               (mouse.WentUp(button, owner) ? "-" : "") + (mouse.WasClicked(button) ? "c" : "");
    }

    FakePointer pointer;
    Mouse mouse{pointer};
};

TEST_F(MouseTest, QuickStillReleaseIsAClickForOneFrameAndASlowOrMovedOneIsNot) {
    MoveTo(10, 10);
    Send(MessageLeftButtonDown);
    EXPECT_TRUE(pointer.captured);
    pointer.seconds += 0.1875; // 187 ms, exact in binary
    MoveTo(14, 10);
    Send(MessageLeftButtonUp);
    EXPECT_FALSE(pointer.captured);
    EXPECT_EQ(Seen(MouseLeft), "+-c");
    mouse.EndFrame();
    EXPECT_EQ(Seen(MouseLeft), "");
    Send(MessageRightButtonDown);
    pointer.seconds += 0.203125; // 203 ms
    Send(MessageRightButtonUp);
    EXPECT_FALSE(mouse.WasClicked(MouseRight));
    Send(MessageMiddleButtonDown);
    MoveTo(17, 14); // five pixels
    Send(MessageMiddleButtonUp);
    EXPECT_FALSE(mouse.WasClicked(MouseMiddle));
}

// The second press of a double click is a press of its button as the first was, a click when
// quick; the left button's also sets the double-click button.
TEST_F(MouseTest, ADoubleClicksSecondPressIsAPressOfItsButtonAndTheLeftOneSetsItsOwnButton) {
    const uint32_t buttons[][3] = {
        {MouseLeft, MessageLeftButtonDown, MessageLeftButtonDoubleClick},
        {MouseMiddle, MessageMiddleButtonDown, MessageMiddleButtonDoubleClick},
        {MouseRight, MessageRightButtonDown, MessageRightButtonDoubleClick}};
    for (const auto& [button, down, doubleClick] : buttons) {
        const auto index = static_cast<int32_t>(button);
        Send(down);
        Send(down + 1);
        mouse.EndFrame();
        Send(doubleClick);
        EXPECT_EQ(Seen(index), "d+") << index;
        EXPECT_EQ(Seen(MouseDoubleClick), index == MouseLeft ? "d+" : "") << index;
        pointer.seconds += 0.1;
        Send(down + 1);
        EXPECT_EQ(Seen(index), "+-c") << index;
        EXPECT_EQ(Seen(MouseDoubleClick), index == MouseLeft ? "-" : "") << index;
        mouse.EndFrame();
    }
}

TEST_F(MouseTest, OwnedButtonsAnswerOnlyTheirOwnerAndConsumedPressesStayDown) {
    Send(MessageLeftButtonDown);
    Send(MessageRightButtonDown);
    mouse.SetOwner(MouseLeft, "gizmo");
    EXPECT_EQ(Seen(MouseLeft), "");
    mouse.ConsumePress(MouseLeft); // owned presses stay
    mouse.ConsumePress(MouseRight);
    EXPECT_EQ(Seen(MouseLeft, "gizmo"), "d+");
    EXPECT_EQ(Seen(MouseRight), "d");
    Send(MessageLeftButtonUp);
    mouse.EndFrame();
    EXPECT_FALSE(mouse.HasOwner(MouseLeft));
    // Buttons outside the four are ignored.
    mouse.SetOwner(7, "x");
    EXPECT_STREQ(mouse.GetOwner(-1), "");
}

} // namespace
} // namespace quarn
