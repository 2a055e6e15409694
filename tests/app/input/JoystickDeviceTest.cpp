#include "app/input/JoystickDevice.h"

#include <functional>
#include <gtest/gtest.h>
#include <vector>

namespace quarn {
namespace {

// Hands out controllers by name, in order; each reads the state the test filled.
class FakeControllers : public JoystickSource {
public:
    class Controller : public JoystickController {
    public:
        Controller(std::string name, FakeControllers& owner)
            : JoystickController(std::move(name)), owner_(owner) {}
        bool Read(JoystickState& state) override {
            state = owner_.state;
            return owner_.readable;
        }

    private:
        FakeControllers& owner_;
    };

    std::unique_ptr<JoystickController> OpenNextController() override {
        if (next >= names.size()) {
            return nullptr;
        }
        return std::make_unique<Controller>(names[next++], *this);
    }

    std::vector<std::string> names{"Pad 360"};
    size_t next = 0;
    JoystickState state;
    bool readable = true;
};

std::vector<int32_t> DownButtons(const JoystickDevice& device) {
    std::vector<int32_t> down;
    for (int32_t button = 0; button < PadButtonCount; ++button) {
        if (device.IsDown(button)) {
            down.push_back(button);
        }
    }
    return down;
}

TEST(JoystickDevice, DecodesHatButtonsAndHalfAxesIntoPadButtons) {
    struct Case {
        std::function<void(JoystickState&)> fill;
        std::vector<int32_t> down;
        uint32_t triggerBits;
    };
    const Case cases[] = {
        {[](JoystickState&) {}, {}, 0},
        {[](JoystickState& s) { s.hat = 0; }, {PadLPadUp}, 0},
        {[](JoystickState& s) { s.hat = 4500; }, {PadLPadRight, PadLPadUp}, 0},
        {[](JoystickState& s) { s.hat = 9000; }, {PadLPadRight}, 0},
        {[](JoystickState& s) { s.hat = 13500; }, {PadLPadRight, PadLPadDown}, 0},
        {[](JoystickState& s) { s.hat = 22500; }, {PadLPadLeft, PadLPadDown}, 0},
        {[](JoystickState& s) { s.hat = 31500; }, {PadLPadLeft, PadLPadUp}, 0},
        {[](JoystickState& s) { std::fill_n(s.buttons, 8, 1); },
         {PadX, PadB, PadY, PadA, PadLT, PadRT, PadStart, PadBack},
         3},
        {[](JoystickState& s) { s.buttons[4] = 1; }, {PadLT}, 1},
        {[](JoystickState& s) { s.buttons[5] = 1; }, {PadRT}, 2},
        {[](JoystickState& s) { s.z = -1000; }, {PadLB}, 4},
        {[](JoystickState& s) { s.z = 1000; }, {PadRB}, 8},
        {[](JoystickState& s) { s = {-1000, 1000, 0, 1000, -1000, -1, {}}; },
         {PadLStickLeft, PadLStickDown, PadRStickRight, PadRStickUp},
         0},
        {[](JoystickState& s) { s = {1000, -1000, 0, -1000, 1000, -1, {}}; },
         {PadLStickRight, PadLStickUp, PadRStickLeft, PadRStickDown},
         0},
        // The threshold is strict: 300 of 1000 is exactly the threshold.
        {[](JoystickState& s) { s.x = 300; }, {}, 0},
        {[](JoystickState& s) { s.x = 301; }, {PadLStickRight}, 0},
    };
    for (const Case& c : cases) {
        FakeControllers source;
        c.fill(source.state);
        JoystickDevice device(source);
        ASSERT_TRUE(device.Poll());
        EXPECT_EQ(DownButtons(device), c.down) << "hat " << source.state.hat;
        EXPECT_EQ(device.GetTriggerBits(), c.triggerBits);
    }
}

TEST(JoystickDevice, ValuesPastTheThresholdAreScaledBackToTheFullRange) {
    FakeControllers source;
    JoystickDevice device(source);
    source.state.x = 300;
    device.Poll();
    EXPECT_EQ(device.GetRawValue(PadLStickRight), 0.3f);
    EXPECT_EQ(device.GetValue(PadLStickRight), 0.0f);
    source.state.x = 301;
    device.Poll();
    EXPECT_NEAR(device.GetValue(PadLStickRight), 0.001 / 0.7, 1e-6);
    source.state.x = 1000;
    device.Poll();
    EXPECT_EQ(device.GetValue(PadLStickRight), 1.0f);
}

TEST(JoystickDevice, EdgesLastOnePollAndTheCurrentButtonIsTheLastPressStillDown) {
    FakeControllers source;
    JoystickDevice device(source);
    auto seen = [&](int32_t button) {
        return std::string(device.IsDown(button) ? "d" : "") +
               (device.WentDown(button) ? "+" : "") + (device.WentUp(button) ? "-" : "");
    };
    device.Poll();
    EXPECT_EQ(device.GetCurrentButton(), PadButtonNone);
    source.state.buttons[0] = 1;
    device.Poll();
    EXPECT_EQ(seen(PadA), "d+");
    EXPECT_EQ(device.GetCurrentButton(), PadA);
    EXPECT_EQ(device.GetDecodedButton(), PadA);
    source.state.buttons[1] = 1;
    device.Poll();
    EXPECT_EQ(seen(PadA) + seen(PadB), "dd+");
    EXPECT_EQ(device.GetCurrentButton(), PadB);
    device.EndFrame();
    EXPECT_EQ(seen(PadB), "d");
    source.state = {};
    device.Poll();
    EXPECT_EQ(seen(PadA) + seen(PadB), "--");
    EXPECT_EQ(device.GetCurrentButton(), PadButtonNone);
    device.EndFrame();
    EXPECT_EQ(seen(PadA), "");
}

TEST(JoystickDevice, ButtonsOutsideTheTableAreUpAndUnnamed) {
    FakeControllers source;
    std::fill_n(source.state.buttons, 8, 1);
    source.state.x = 1000;
    JoystickDevice device(source);
    device.Poll();
    // No button down leaves the current button at 29, past the 28 states: it reads as up.
    for (int32_t button : {-1, int32_t{PadButtonCount}, int32_t{PadButtonNone}, 1000}) {
        EXPECT_FALSE(device.IsDown(button) || device.WentDown(button) || device.WentUp(button));
        EXPECT_EQ(device.GetRawValue(button) + device.GetValue(button), 0.0f);
        EXPECT_STREQ(device.GetButtonName(button), "Unknown");
        EXPECT_EQ(device.GetDefaultBinding(button), PadNoBinding);
        EXPECT_EQ(GetPadButtonThreshold(button), 0.0f);
    }
    EXPECT_STREQ(device.GetButtonName(PadStart), "Start");
    EXPECT_EQ(device.GetDefaultBinding(PadRT), 0x1a10);
    EXPECT_EQ(GetPadButtonThreshold(PadA), 0.30000001f);
}

TEST(JoystickDevice, ControllerWithout360OpensButReportsNoButtons) {
    FakeControllers source;
    source.names = {"Generic Pad"};
    std::fill_n(source.state.buttons, 8, 1);
    source.state.hat = 0;
    JoystickDevice device(source);
    ASSERT_TRUE(device.IsAvailable());
    EXPECT_TRUE(device.Poll());
    EXPECT_EQ(DownButtons(device), std::vector<int32_t>{});
    EXPECT_EQ(device.GetCurrentButton(), -1);
    EXPECT_STREQ(device.GetButtonName(PadA), "unknown");
    EXPECT_EQ(device.GetDefaultBinding(PadA), PadNoBinding);
}

TEST(JoystickDevice, FailedReadReleasesTheControllerAndTheNextUseTakesTheNextOne) {
    FakeControllers source;
    source.names = {"First 360", "Second 360"};
    source.state.buttons[0] = 1;
    JoystickDevice device(source);
    ASSERT_TRUE(device.Poll());
    source.readable = false;
    EXPECT_FALSE(device.Poll());
    EXPECT_STREQ(device.GetErrorText(), "Failed to acquire device");
    EXPECT_FALSE(device.IsDown(PadA));
    source.readable = true;
    EXPECT_TRUE(device.IsAvailable());
    EXPECT_EQ(source.next, 2u);
    EXPECT_TRUE(device.Poll());
    EXPECT_FALSE(JoystickDevice(source).IsAvailable());
}

} // namespace
} // namespace quarn
