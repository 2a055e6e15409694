#include "app/input/JoystickDevice.h"
#include "app/platform/SdlPlatform.h"

#include <SDL.h>
#include <cstdlib>
#include <gtest/gtest.h>
#include <vector>

namespace quarn {
namespace {

// A controller SDL simulates. A game-controller one is read through SDL's mapping, one of
// unknown type through the raw joystick numbering.
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
        SetTriggers(false, false);
    }
    ~VirtualPad() {
        Detach();
        SDL_JoystickClose(joystick_);
    }

    void SetAxis(int axis, int16_t value) { SDL_JoystickSetVirtualAxis(joystick_, axis, value); }
    // Buttons in the order A, B, X, Y, left shoulder, right shoulder, back, start.
    void SetButton(int which, bool down) {
        const int mappedIndex[8] = {
            SDL_CONTROLLER_BUTTON_A,
            SDL_CONTROLLER_BUTTON_B,
            SDL_CONTROLLER_BUTTON_X,
            SDL_CONTROLLER_BUTTON_Y,
            SDL_CONTROLLER_BUTTON_LEFTSHOULDER,
            SDL_CONTROLLER_BUTTON_RIGHTSHOULDER,
            SDL_CONTROLLER_BUTTON_BACK,
            SDL_CONTROLLER_BUTTON_START,
        };
        SDL_JoystickSetVirtualButton(joystick_, mapped_ ? mappedIndex[which] : which, down);
    }
    // A mask of SDL_HAT_UP and its kin.
    void SetDpad(uint8_t hat) {
        if (!mapped_) {
            SDL_JoystickSetVirtualHat(joystick_, 0, hat);
            return;
        }
        SDL_JoystickSetVirtualButton(joystick_, SDL_CONTROLLER_BUTTON_DPAD_UP, hat & SDL_HAT_UP);
        SDL_JoystickSetVirtualButton(joystick_, SDL_CONTROLLER_BUTTON_DPAD_RIGHT,
                                     (hat & SDL_HAT_RIGHT) != 0);
        SDL_JoystickSetVirtualButton(joystick_, SDL_CONTROLLER_BUTTON_DPAD_DOWN,
                                     (hat & SDL_HAT_DOWN) != 0);
        SDL_JoystickSetVirtualButton(joystick_, SDL_CONTROLLER_BUTTON_DPAD_LEFT,
                                     (hat & SDL_HAT_LEFT) != 0);
    }
    // The mapping reports a released trigger as 0; a raw trigger rests at the bottom.
    void SetTriggers(bool left, bool right) {
        int16_t released = mapped_ ? 0 : -32768;
        SetAxis(4, left ? 32767 : released);
        SetAxis(5, right ? 32767 : released);
    }
    void Detach() {
        SDL_JoystickID id = SDL_JoystickInstanceID(joystick_);
        for (int index = 0; index < SDL_NumJoysticks(); ++index) {
            if (SDL_JoystickGetDeviceInstanceID(index) == id) {
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
        // Under the offscreen driver the window never has the keyboard focus.
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
        std::vector<int32_t> down;
        for (int32_t button = 0; button < PadButtonCount; ++button) {
            if (platform->CreateJoystick(index)->IsDown(button)) {
                down.push_back(button);
            }
        }
        return down;
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
    pad.SetAxis(0, 32767);
    pad.SetAxis(1, -32768);
    pad.SetAxis(2, -32768);
    pad.SetAxis(3, 32767);
    pad.SetDpad(SDL_HAT_RIGHTUP);
    pad.SetButton(0, true);
    pad.SetButton(4, true);
    pad.SetButton(7, true);
    pad.SetTriggers(true, false);
    RunFrame();
    JoystickDevice& device = *platform->CreateJoystick(0);
    EXPECT_EQ(Down(0),
              (std::vector<int32_t>{PadLStickRight, PadLStickUp, PadRStickLeft, PadRStickDown,
                                    PadLPadRight, PadLPadUp, PadA, PadLT, PadLB, PadStart}));
    EXPECT_EQ(device.GetRawValue(PadLStickUp), 1.0f);
    EXPECT_EQ(device.GetTriggerBits(), 5u);
    pad.SetAxis(0, 9830); // 300 of 1000: exactly the threshold
    pad.SetAxis(1, 0);
    pad.SetAxis(2, 0);
    pad.SetAxis(3, 0);
    pad.SetDpad(SDL_HAT_LEFTDOWN);
    for (int button = 0; button < 8; ++button) {
        pad.SetButton(button, button != 0 && button != 4 && button != 7);
    }
    pad.SetTriggers(false, true);
    RunFrame();
    EXPECT_EQ(Down(0), (std::vector<int32_t>{PadLPadLeft, PadLPadDown, PadX, PadB, PadY, PadRT,
                                             PadRB, PadBack}));
    EXPECT_EQ(device.GetRawValue(PadLStickRight), 0.3f);
    EXPECT_TRUE(device.WentUp(PadA) && device.WentDown(PadRB));
    EXPECT_STREQ(device.GetButtonName(PadRB), "RB");
}

TEST_P(SdlJoysticksTest, PadWithout360IsAvailableWithNoButtons) {
    VirtualPad& pad = Attach("Plain Pad");
    pad.SetButton(0, true);
    StartPlatform();
    RunFrame();
    JoystickDevice& device = *platform->CreateJoystick(0);
    EXPECT_TRUE(device.IsAvailable());
    EXPECT_EQ(Down(0), std::vector<int32_t>{});
    EXPECT_STREQ(device.GetButtonName(PadA), "unknown");
}

TEST_P(SdlJoysticksTest, FirstDeviceUsedTakesTheFirstPad) {
    VirtualPad& first = Attach("First 360");
    Attach("Second 360");
    StartPlatform();
    ASSERT_EQ(platform->GetJoystickCount(), 2);
    ASSERT_TRUE(platform->CreateJoystick(1)->IsAvailable());
    first.SetButton(0, true);
    RunFrame();
    EXPECT_EQ(Down(1), std::vector<int32_t>{PadA});
    EXPECT_EQ(Down(0), std::vector<int32_t>{});
    EXPECT_EQ(platform->CreateJoystick(2), nullptr);
}

TEST_P(SdlJoysticksTest, DetachedPadFailsItsReadAndFramesGoOn) {
    VirtualPad& pad = Attach("Test 360 Pad");
    StartPlatform();
    RunFrame();
    JoystickDevice& device = *platform->CreateJoystick(0);
    ASSERT_TRUE(device.IsAvailable());
    pad.Detach();
    EXPECT_FALSE(device.Poll());
    EXPECT_STREQ(device.GetErrorText(), "Failed to acquire device");
    EXPECT_FALSE(device.IsAvailable());
    RunFrame();
    EXPECT_FALSE(device.IsAvailable());
}

TEST_P(SdlJoysticksTest, PadsAreCountedOnceUntilAScanAsksAgain) {
    StartPlatform();
    EXPECT_EQ(platform->GetJoystickCount(), 0);
    RunFrame();
    Attach("Late 360 Pad");
    EXPECT_EQ(platform->GetJoystickCount(), 0);
    EXPECT_EQ(platform->CreateJoystick(0), nullptr);
    EXPECT_EQ(platform->EnumerateJoysticks(), 1);
    ASSERT_NE(platform->CreateJoystick(0), nullptr);
    EXPECT_TRUE(platform->CreateJoystick(0)->IsAvailable());
}

} // namespace
} // namespace quarn
