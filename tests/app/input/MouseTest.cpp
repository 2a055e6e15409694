#include "app/input/Mouse.h"

#include "app/platform/WindowMessage.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

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
        EXPECT_EQ(Seen(MouseDoubleClick), index == MouseLeft ? "+-c" : "") << index;
        mouse.EndFrame();
    }
}

// A double click is one whatever frames its presses and releases fall in: each case is the
// messages of a left double click (D down, U up, B the double click's press) with '|' ending a
// frame and 0.1 s passing, and what the left button and the double-click button show in each
// frame. Only the left button's single presses show as such.
TEST_F(MouseTest, ADoubleClickIsSeenWhateverFramesItsPressesAndReleasesFallIn) {
    const struct {
        const char* messages;
        std::vector<std::string> left, doubled;
    } cases[] = {
        {"DUBU", {"+-c1"}, {"+-c"}},
        {"DU|BU", {"+-c1", "+-c"}, {"", "+-c"}},
        {"D|U|B|U", {"d+1", "-c", "d+", "-c"}, {"", "", "d+", "-c"}},
        {"D|UB|U", {"d+1", "d+-c", "-c"}, {"", "d+", "-c"}},
        {"DU|B|||U", {"+-c1", "d+", "d", "d", "-"}, {"", "d+", "d", "d", "-"}},
        {"DUBUDU", {"+-c1"}, {"+-c"}},
        {"DUBU|DU", {"+-c1", "+-c1"}, {"+-c", ""}},
    };
    for (const auto& each : cases) {
        std::vector<std::string> left(1);
        std::vector<std::string> doubled(1);
        for (const char* at = each.messages;; ++at) {
            if (*at == '|' || *at == '\0') {
                left.back() = Seen(MouseLeft) + (mouse.WentDownSingly(MouseLeft, "") ? "1" : "");
                doubled.back() = Seen(MouseDoubleClick);
                mouse.EndFrame();
                pointer.seconds += 0.1;
                if (*at == '\0') {
                    break;
                }
                left.emplace_back();
                doubled.emplace_back();
                continue;
            }
            Send(*at == 'D'   ? MessageLeftButtonDown
                 : *at == 'U' ? MessageLeftButtonUp
                              : MessageLeftButtonDoubleClick);
        }
        EXPECT_EQ(left, each.left) << each.messages;
        EXPECT_EQ(doubled, each.doubled) << each.messages;
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
    // Let go and pressed again within a frame, the button is held: its owner keeps it for the
    // second press's release.
    Send(MessageLeftButtonDown);
    mouse.SetOwner(MouseLeft, "gizmo");
    mouse.EndFrame();
    Send(MessageLeftButtonUp);
    Send(MessageLeftButtonDoubleClick);
    EXPECT_EQ(Seen(MouseLeft, "gizmo"), "d+-c");
    mouse.EndFrame();
    Send(MessageLeftButtonUp);
    EXPECT_EQ(Seen(MouseLeft, "gizmo"), "-c");
    mouse.EndFrame();
    EXPECT_FALSE(mouse.HasOwner(MouseLeft));
    // Buttons outside the four are ignored.
    mouse.SetOwner(7, "x");
    EXPECT_STREQ(mouse.GetOwner(-1), "");
}

} // namespace
} // namespace quarn
