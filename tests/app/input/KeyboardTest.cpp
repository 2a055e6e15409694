#include "app/input/Keyboard.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string>

namespace quarn {
namespace {

class FakeKeys : public KeyStateSource {
public:
    bool ReadKeyState(uint8_t state[256]) override {
        std::memcpy(state, down, sizeof(down));
        return readable;
    }
    bool WaitForInput() override {
        if (++waits == 2) {
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
    // What the keyboard says of a key this frame: "d" down, "+" went down, "-" went up.
    std::string Seen(int32_t code) const {
        return std::string(keyboard.IsKeyDown(code) ? "d" : "") +
               (keyboard.WentDown(code) ? "+" : "") + (keyboard.WentUp(code) ? "-" : "");
    }
    void Poll(int32_t code, bool isDown) {
        keys.Set(code, isDown);
        keyboard.Poll();
    }

    FakeKeys keys;
    Keyboard keyboard{keys};
};

TEST_F(KeyboardTest, PressIsSeenForOneFrameThenHeldThenReleasedForOneFrame) {
    Poll(KeyA, true);
    EXPECT_EQ(Seen(KeyA), "d+");
    keyboard.Poll();
    EXPECT_EQ(Seen(KeyA), "d");
    Poll(KeyA, false);
    EXPECT_EQ(Seen(KeyA), "-");
    keyboard.Poll();
    EXPECT_EQ(Seen(KeyA), "");
    // Codes outside the table answer nothing, even with every key down.
    std::memset(keys.down, 0x80, sizeof(keys.down));
    keyboard.Poll();
    EXPECT_EQ(Seen(KeyCount) + Seen(-1) + Seen(1000), "");
}

TEST_F(KeyboardTest, HeldKeyIsTheFirstPressedStillDownAndAKeyWithoutACodeIsNone) {
    Poll(KeyA + 2, true);
    Poll(KeyA + 3, true);
    EXPECT_EQ(keyboard.GetLastPressedKey(), KeyA + 3);
    EXPECT_EQ(keyboard.GetHeldKey(), KeyA + 2);
    keyboard.Poll();
    EXPECT_EQ(keyboard.GetLastPressedKey(), KeyCount);
    Poll(KeyA + 2, false);
    EXPECT_EQ(keyboard.GetHeldKey(), KeyCount);
    // No engine key code has this scan code: it is reported as no key, not as another one.
    keys.down[0x7F] = 0x80;
    keyboard.Poll();
    EXPECT_EQ(keyboard.GetLastPressedKey(), KeyCount);
    EXPECT_EQ(keyboard.GetHeldKey(), KeyCount);
    EXPECT_FALSE(keyboard.IsKeyDown(KeyAlt));
}

TEST(KeyNames, NamesAndCharactersFollowTheKeyCodesAndEachKeyHasItsOwnScanCode) {
    EXPECT_STREQ(GetKeyName(70), "Page Down");
    EXPECT_STREQ(GetKeyName(KeySuper), "Win");
    EXPECT_STREQ(GetKeyName(-3), "Unknown");
    EXPECT_EQ(KeyCodeToChar(KeyA + 25), 'Z');
    EXPECT_EQ(KeyCodeToChar(10), '?');
    for (int32_t code = 0; code < KeyShift; ++code) {
        EXPECT_EQ(ScanCodeToKeyCode(KeyCodeToScanCode(code)), code) << GetKeyName(code);
    }
}

} // namespace
} // namespace quarn
