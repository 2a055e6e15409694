#include "app/input/Keyboard.h"

#include <cstring>
#include <gtest/gtest.h>

namespace quarn {
namespace {

class FakeKeys : public KeyStateSource {
public:
    bool ReadKeyState(uint8_t state[256]) override {
        std::memcpy(state, down, sizeof(down));
        return readable;
    }
    bool WaitForInput() override {
        ++waits;
        if (waits == 2) {
            Set(KeyEnter, false);
        }
        return true;
    }
    void Set(int32_t code, bool isDown) { down[KeyCodeToScanCode(code)] = isDown ? 0x80 : 0; }

    uint8_t down[256] = {};
    bool readable = true;
    int waits = 0;
};

class KeyboardTest : public ::testing::Test {
protected:
    FakeKeys keys;
    Keyboard keyboard{keys};
};

TEST_F(KeyboardTest, PressIsSeenForOneFrameThenHeldThenReleasedForOneFrame) {
    keys.Set(KeyA, true);
    keyboard.Poll();
    EXPECT_TRUE(keyboard.WentDown(KeyA));
    EXPECT_TRUE(keyboard.IsKeyDown(KeyA));
    keyboard.Poll();
    EXPECT_FALSE(keyboard.WentDown(KeyA));
    EXPECT_TRUE(keyboard.IsKeyDown(KeyA));
    keys.Set(KeyA, false);
    keyboard.Poll();
    EXPECT_TRUE(keyboard.WentUp(KeyA));
    EXPECT_FALSE(keyboard.IsKeyDown(KeyA));
    keyboard.Poll();
    EXPECT_FALSE(keyboard.WentUp(KeyA));
}

TEST_F(KeyboardTest, PairCodesAnswerForEitherKey) {
    keys.Set(KeyRightShift, true);
    keys.Set(KeyRightAlt, true);
    keyboard.Poll();
    EXPECT_TRUE(keyboard.WentDown(KeyShift));
    EXPECT_TRUE(keyboard.IsShiftDown());
    EXPECT_TRUE(keyboard.IsAltDown());
    EXPECT_FALSE(keyboard.IsCtrlDown());
    EXPECT_FALSE(keyboard.IsKeyDown(KeySuper));
}

TEST_F(KeyboardTest, CodesOutsideTheTableAnswerFalse) {
    std::memset(keys.down, 0x80, sizeof(keys.down));
    keyboard.Poll();
    EXPECT_FALSE(keyboard.IsKeyDown(KeyCount));
    EXPECT_FALSE(keyboard.IsKeyDown(-1));
    EXPECT_FALSE(keyboard.WentDown(1000));
}

TEST_F(KeyboardTest, ConsumedPressIsStillDownButNoLongerWentDown) {
    keys.Set(KeyLeftCtrl, true);
    keys.Set(KeySpace, true);
    keyboard.Poll();
    keyboard.ConsumePress(KeyCtrl);
    EXPECT_FALSE(keyboard.WentDown(KeyLeftCtrl));
    EXPECT_TRUE(keyboard.IsKeyDown(KeyLeftCtrl));
    EXPECT_TRUE(keyboard.WentDown(KeySpace));
    keyboard.ConsumeAllPresses();
    EXPECT_FALSE(keyboard.WentDown(KeySpace));
}

TEST_F(KeyboardTest, DisabledKeyboardForgetsAndIgnoresKeys) {
    keys.Set(KeyA + 1, true);
    keyboard.Poll();
    keyboard.SetEnabled(false);
    EXPECT_FALSE(keyboard.IsKeyDown(KeyA + 1));
    keyboard.Poll();
    EXPECT_FALSE(keyboard.IsKeyDown(KeyA + 1));
}

TEST_F(KeyboardTest, UnreadableKeyboardCountsAsAllKeysUp) {
    keys.Set(KeyA + 1, true);
    keyboard.Poll();
    keys.readable = false;
    keyboard.Poll();
    EXPECT_FALSE(keyboard.IsKeyDown(KeyA + 1));
}

TEST_F(KeyboardTest, HeldKeyIsTheFirstPressedStillDown) {
    keys.Set(KeyA + 2, true);
    keyboard.Poll();
    keys.Set(KeyA + 3, true);
    keyboard.Poll();
    EXPECT_EQ(keyboard.GetLastPressedKey(), KeyA + 3);
    EXPECT_EQ(keyboard.GetHeldKey(), KeyA + 2);
    keyboard.Poll();
    EXPECT_EQ(keyboard.GetLastPressedKey(), KeyCount);
    keys.Set(KeyA + 2, false);
    keyboard.Poll();
    EXPECT_EQ(keyboard.GetHeldKey(), KeyCount);
}

TEST_F(KeyboardTest, KeyWithoutACodeIsNotReportedAsAnotherKey) {
    keys.down[0x7F] = 0x80; // no engine key code has this scan code
    keyboard.Poll();
    EXPECT_EQ(keyboard.GetLastPressedKey(), KeyCount);
    EXPECT_EQ(keyboard.GetHeldKey(), KeyCount);
    EXPECT_FALSE(keyboard.IsKeyDown(KeyAlt));
}

TEST_F(KeyboardTest, WaitForKeyReleaseWaitsForInputUntilTheKeyIsUp) {
    keys.Set(KeyEnter, true);
    keyboard.WaitForKeyRelease(KeyEnter);
    EXPECT_EQ(keys.waits, 2);
    EXPECT_FALSE(keyboard.IsKeyDown(KeyEnter));
}

TEST(KeyNames, NamesAndCharactersFollowTheKeyCodes) {
    EXPECT_STREQ(GetKeyName(0), "0");
    EXPECT_STREQ(GetKeyName(21), "F12");
    EXPECT_STREQ(GetKeyName(47), "Z");
    EXPECT_STREQ(GetKeyName(70), "Page Down");
    EXPECT_STREQ(GetKeyName(KeySuper), "Win");
    EXPECT_STREQ(GetKeyName(KeyCount), "Unknown");
    EXPECT_STREQ(GetKeyName(-3), "Unknown");
    EXPECT_EQ(KeyCodeToChar(9), '9');
    EXPECT_EQ(KeyCodeToChar(KeyA + 25), 'Z');
    EXPECT_EQ(KeyCodeToChar(KeyEnter), '\n');
    EXPECT_EQ(KeyCodeToChar(10), '?');
}

TEST(KeyNames, EveryPhysicalKeyHasItsOwnScanCode) {
    for (int32_t code = 0; code < KeyShift; ++code) {
        EXPECT_EQ(ScanCodeToKeyCode(KeyCodeToScanCode(code)), code) << GetKeyName(code);
    }
}

} // namespace
} // namespace quarn
