#include "app/input/JoystickDevice.h"

#include "tests/support/PadButtonsDown.h"

#include <gtest/gtest.h>
#include <vector>

namespace quarn {
namespace {

// Hands out controllers named "Pad 360" that read whatever state the test filled.
class FilledState : public JoystickSource {
public:
    std::unique_ptr<JoystickController> OpenNextController() override {
        return std::make_unique<Reader>(state);
    }
    JoystickState state;

private:
    struct Reader : JoystickController {
        explicit Reader(const JoystickState& state) : JoystickController("Pad 360"), state(state) {}
        bool Read(JoystickState& read) override {
            read = state;
            return true;
        }
        const JoystickState& state;
    };
};

TEST(JoystickDevice, DecodesTheHatShouldersTriggersAndHalfAxesIntoPadButtons) {
    const struct {
        JoystickState state;
        std::vector<int32_t> down;
        uint32_t triggerBits;
        float lStickRightValue; // past the dead zone
    } cases[] = {
        {{}, {}, 0, 0.0f},
        {{.hat = 0}, {PadLPadUp}, 0, 0.0f},
        {{.hat = 4500}, {PadLPadRight, PadLPadUp}, 0, 0.0f},
        {{.hat = 13500}, {PadLPadRight, PadLPadDown}, 0, 0.0f},
        {{.hat = 22500}, {PadLPadLeft, PadLPadDown}, 0, 0.0f},
        {{.hat = 31500}, {PadLPadLeft, PadLPadUp}, 0, 0.0f},
        {{.z = -1000, .buttons = {0, 0, 0, 0, 1, 1}}, {PadLT, PadLB, PadRT}, 7, 0.0f},
        {{.z = 1000}, {PadRB}, 8, 0.0f},
        // The threshold test is strict: 300 of 1000 is the threshold itself.
        {{.x = 300}, {}, 0, 0.0f},
        {{.x = 301}, {PadLStickRight}, 0, 0.001f / 0.7f},
        {{.x = 1000}, {PadLStickRight}, 0, 1.0f},
    };
    for (const auto& c : cases) {
        FilledState source;
        source.state = c.state;
        JoystickDevice device(source);
        ASSERT_TRUE(device.Poll());
        EXPECT_EQ(test::PadButtonsDown(device), c.down)
            << "hat " << c.state.hat << ", x " << c.state.x;
        EXPECT_EQ(device.GetTriggerBits(), c.triggerBits);
        EXPECT_NEAR(device.GetValue(PadLStickRight), c.lStickRightValue, 1e-6);
    }
}

TEST(JoystickDevice, EdgesLastOnePollAndTheCurrentButtonIsTheLastPressStillDown) {
    FilledState source;
    JoystickDevice device(source);
    auto seen = [&](int32_t button) {
        return std::string(device.IsDown(button) ? "d" : "") +
               (device.WentDown(button) ? "+" : "") + (device.WentUp(button) ? "-" : "");
    };
    source.state.buttons[0] = 1;
    device.Poll();
    EXPECT_EQ(seen(PadA) + std::to_string(device.GetCurrentButton()), "d+15");
    source.state.buttons[1] = 1;
    device.Poll();
    EXPECT_EQ(seen(PadA) + seen(PadB) + std::to_string(device.GetCurrentButton()), "dd+13");
    device.EndFrame();
    EXPECT_EQ(seen(PadB), "d");
    source.state = {};
    device.Poll();
    EXPECT_EQ(seen(PadA) + seen(PadB) + std::to_string(device.GetCurrentButton()), "--29");
    device.EndFrame();
    EXPECT_EQ(seen(PadA), "");
}

TEST(JoystickDevice, ButtonsOutsideTheTableIncludingTheNoneButtonReadAsUpAndUnnamed) {
    FilledState source;
    source.state = {.x = 1000, .buttons = {1, 1, 1, 1, 1, 1, 1, 1}};
    JoystickDevice device(source);
    device.Poll();
    for (int32_t button : {-1, int32_t{PadButtonCount}, int32_t{PadButtonNone}}) {
        EXPECT_FALSE(device.IsDown(button) || device.WentDown(button) || device.WentUp(button));
        EXPECT_EQ(device.GetRawValue(button) + device.GetValue(button), 0.0f);
        EXPECT_STREQ(device.GetButtonName(button), "Unknown");
        EXPECT_EQ(device.GetDefaultBinding(button), PadNoBinding);
    }
    EXPECT_EQ(GetPadButtonThreshold(PadA), 0.30000001f);
}

} // namespace
} // namespace quarn
