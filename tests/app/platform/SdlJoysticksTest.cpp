#include "app/input/JoystickDevice.h"
#include "app/platform/SdlPlatform.h"
#include "tests/support/PadButtonsDown.h"

#include <SDL.h>
#include <array>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace quarn {
namespace {

// A controller SDL simulates, with axes 0-5 as the raw path numbers them. As a game controller
// its buttons and d-pad follow SDL's own numbering, which only the mapping translates.
class VirtualPad {
public:
    VirtualPad(const char* name, bool mapped) : mapped_(mapped) {
        SDL_VirtualJoystickDesc desc = {};
        desc.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
        desc.type = mapped ? SDL_JOYSTICK_TYPE_GAMECONTROLLER : SDL_JOYSTICK_TYPE_UNKNOWN;
        desc.naxes = 6;
        desc.nbuttons = mapped ? SDL_CONTROLLER_BUTTON_MAX : 8;
        desc.nhats = mapped ? 0 : 1;
        desc.name = name;
        joystick_ = SDL_JoystickOpen(SDL_JoystickAttachVirtualEx(&desc));
        EXPECT_NE(joystick_, nullptr) << SDL_GetError();
        Set({}, SDL_HAT_CENTERED, 0, false, false);
    }
    ~VirtualPad() {
        Detach();
        SDL_JoystickClose(joystick_);
    }

    // Sticks as x, y, rx, ry; the d-pad as an SDL hat; bit i of buttons is button i of A, B, X,
    // Y, left shoulder, right shoulder, back, start. Triggers rest at the bottom of their range.
    void Set(std::array<int16_t, 4> sticks, uint8_t hat, uint32_t buttons, bool leftTrigger,
             bool rightTrigger) {
        int16_t triggers[2] = {int16_t(leftTrigger ? 32767 : -32768),
                               int16_t(rightTrigger ? 32767 : -32768)};
        for (int axis = 0; axis < 6; ++axis) {
            SDL_JoystickSetVirtualAxis(joystick_, axis,
                                       axis < 4 ? sticks[axis] : triggers[axis - 4]);
        }
        // SDL_CONTROLLER_BUTTON_ A, B, X, Y, LEFTSHOULDER, RIGHTSHOULDER, BACK, START, then the
        // d-pad in the bit order of a hat: DPAD_UP, DPAD_RIGHT, DPAD_DOWN, DPAD_LEFT.
        const int mappedButtons[12] = {0, 1, 2, 3, 9, 10, 4, 6, 11, 14, 12, 13};
        uint32_t down = buttons | uint32_t{hat} << 8;
        for (int i = 0; i < (mapped_ ? 12 : 8); ++i) {
            SDL_JoystickSetVirtualButton(joystick_, mapped_ ? mappedButtons[i] : i,
                                         (down >> i) & 1);
        }
        if (!mapped_) {
            SDL_JoystickSetVirtualHat(joystick_, 0, hat);
        }
    }
    void Detach() {
        for (int index = 0; index < SDL_NumJoysticks(); ++index) {
            if (SDL_JoystickGetDeviceInstanceID(index) == SDL_JoystickInstanceID(joystick_)) {
                SDL_JoystickDetachVirtual(index);
            }
        }
    }

private:
    bool mapped_;
    SDL_Joystick* joystick_ = nullptr;
};

class SdlJoysticksTest : public ::testing::TestWithParam<bool> {
protected:
    SdlJoysticksTest() {
        setenv("SDL_VIDEODRIVER", "offscreen", 1);
        // Virtual controllers need the joystick subsystem before the platform scans.
        SDL_InitSubSystem(SDL_INIT_JOYSTICK);
    }
    ~SdlJoysticksTest() override {
        pads.clear();
        platform.reset();
        SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
    }

    VirtualPad& Attach(const char* name) {
        pads.push_back(std::make_unique<VirtualPad>(name, GetParam()));
        return *pads.back();
    }
    void StartPlatform() {
        platform = std::make_unique<SdlPlatform>("", nullptr, std::make_unique<ScriptedDialogs>());
        // The offscreen window never has the keyboard focus.
        platform->CreateMainWindow("Pelgrath", 0, 0, 64, 64, 0, 0);
    }
    // The frame function's joystick step: every available device of the scan is polled.
    void RunFrame() {
        for (int32_t index = 0; index < platform->GetJoystickCount(); ++index) {
            JoystickDevice* device = platform->CreateJoystick(index);
            if (device && device->IsAvailable()) {
                device->Poll();
            }
        }
    }
    std::vector<int32_t> Down(int32_t index) {
        return test::PadButtonsDown(*platform->CreateJoystick(index));
    }

    std::vector<std::unique_ptr<VirtualPad>> pads;
    std::unique_ptr<SdlPlatform> platform;
};

INSTANTIATE_TEST_SUITE_P(MappedAndRaw, SdlJoysticksTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Mapped" : "Raw"; });

TEST_P(SdlJoysticksTest, SticksButtonsDpadAndTriggersReachTheNamedPadButtons) {
    VirtualPad& pad = Attach("Test 360 Pad");
    StartPlatform();
    ASSERT_EQ(platform->GetJoystickCount(), 1);
    RunFrame();
    EXPECT_EQ(Down(0), std::vector<int32_t>{});
    pad.Set({32767, -32768, -32768, 32767}, SDL_HAT_RIGHTUP, 0x91, true, false);
    RunFrame();
    JoystickDevice& device = *platform->CreateJoystick(0);
    EXPECT_EQ(Down(0),
              (std::vector<int32_t>{PadLStickRight, PadLStickUp, PadRStickLeft, PadRStickDown,
                                    PadLPadRight, PadLPadUp, PadA, PadLT, PadLB, PadStart}));
    EXPECT_EQ(device.GetRawValue(PadLStickUp), 1.0f);
    EXPECT_EQ(device.GetTriggerBits(), 5u);
    // 9830 is 300 of 1000, the threshold itself.
    pad.Set({9830, 0, 0, 0}, SDL_HAT_LEFTDOWN, 0x6e, false, true);
    RunFrame();
    EXPECT_EQ(Down(0), (std::vector<int32_t>{PadLPadLeft, PadLPadDown, PadX, PadB, PadY, PadRT,
                                             PadRB, PadBack}));
    EXPECT_EQ(device.GetRawValue(PadLStickRight), 0.3f);
    EXPECT_TRUE(device.WentUp(PadA) && device.WentDown(PadRB));
}

TEST_P(SdlJoysticksTest, FirstDeviceUsedTakesTheFirstPadAndOneWithout360HasNoButtons) {
    Attach("Plain Pad").Set({}, SDL_HAT_UP, 0xff, true, false);
    Attach("Second 360").Set({}, SDL_HAT_CENTERED, 1, false, false);
    StartPlatform();
    ASSERT_EQ(platform->GetJoystickCount(), 2);
    JoystickDevice& plain = *platform->CreateJoystick(1);
    ASSERT_TRUE(plain.IsAvailable());
    RunFrame();
    EXPECT_EQ(Down(1), std::vector<int32_t>{});
    EXPECT_STREQ(plain.GetButtonName(PadA), "unknown");
    EXPECT_EQ(plain.GetDefaultBinding(PadA), PadNoBinding);
    EXPECT_EQ(Down(0), std::vector<int32_t>{PadA});
    EXPECT_EQ(platform->CreateJoystick(2), nullptr);
}

TEST_P(SdlJoysticksTest, UnpluggedPadFailsItsReadAndItsDeviceTakesTheNextFreePad) {
    VirtualPad& first = Attach("First 360");
    Attach("Second 360");
    StartPlatform();
    platform->GetJoystickCount();
    JoystickDevice& device = *platform->CreateJoystick(0);
    ASSERT_TRUE(device.Poll());
    first.Detach();
    EXPECT_FALSE(device.Poll());
    EXPECT_STREQ(device.GetErrorText(), "Failed to acquire device");
    // The unplugged pad's record stays taken: the device moves on, the other finds none left.
    RunFrame();
    EXPECT_TRUE(device.IsAvailable());
    EXPECT_FALSE(platform->CreateJoystick(1)->IsAvailable());
    EXPECT_STREQ(platform->CreateJoystick(1)->GetErrorText(), "Failed to acquire device");
}

TEST_P(SdlJoysticksTest, PadsAreCountedOnceUntilAScanAsksAgain) {
    StartPlatform();
    EXPECT_EQ(platform->GetJoystickCount(), 0);
    RunFrame();
    Attach("Late 360 Pad");
    EXPECT_EQ(platform->GetJoystickCount(), 0);
    EXPECT_EQ(platform->CreateJoystick(0), nullptr);
    EXPECT_EQ(platform->EnumerateJoysticks(), 1);
    EXPECT_TRUE(platform->CreateJoystick(0)->IsAvailable());
}

} // namespace
} // namespace quarn
