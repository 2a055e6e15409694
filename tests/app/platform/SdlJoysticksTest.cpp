#include "app/input/JoystickDevice.h"
#include "app/platform/Platform.h"
#include "app/player/Engine.h"
#include "script/nodes/InputNodes.h"
#include "tests/app/player/PlayerTestSupport.h"
#include "tests/support/PadButtonsDown.h"
#include "tests/support/TestTree.h"

#include <SDL.h>
#include <array>
#include <gtest/gtest.h>
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

// The player started on its default scene, polling the pads in its frame function.
class SdlJoysticksTest : public test::PlayerTest, public ::testing::WithParamInterface<bool> {
protected:
    // Virtual controllers need the joystick subsystem before the platform scans.
    SdlJoysticksTest() { SDL_InitSubSystem(SDL_INIT_JOYSTICK); }
    ~SdlJoysticksTest() override {
        pads.clear();
        SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
    }

    VirtualPad& Attach(const char* name) {
        pads.push_back(std::make_unique<VirtualPad>(name, GetParam()));
        return *pads.back();
    }
    // In a small window: the frames only poll the pads, and full-size software frames cost
    // seconds under the sanitizers.
    bool StartSmall() {
        EngineSetup setup;
        setup.settings = {{"editor_windowsize", "64,48"}};
        return Start(std::move(setup));
    }
    JoystickDevice* Device(int32_t index) { return GetPlatform()->CreateJoystick(index); }
    std::vector<int32_t> Down(int32_t index) { return test::PadButtonsDown(*Device(index)); }

    std::vector<std::unique_ptr<VirtualPad>> pads;
};

INSTANTIATE_TEST_SUITE_P(MappedAndRaw, SdlJoysticksTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Mapped" : "Raw"; });

TEST_P(SdlJoysticksTest, SticksButtonsDpadAndTriggersReachTheNamedPadButtons) {
    test::ExpectInFreshProcess([this] {
        VirtualPad& pad = Attach("Test 360 Pad");
        ASSERT_TRUE(StartSmall());
        ASSERT_EQ(GetPlatform()->GetJoystickCount(), 1);
        EXPECT_TRUE(FrameUpdate());
        EXPECT_EQ(Down(0), std::vector<int32_t>{});
        pad.Set({32767, -32768, -32768, 32767}, SDL_HAT_RIGHTUP, 0x91, true, false);
        EXPECT_TRUE(FrameUpdate());
        JoystickDevice& device = *Device(0);
        EXPECT_EQ(Down(0),
                  (std::vector<int32_t>{PadLStickRight, PadLStickUp, PadRStickLeft, PadRStickDown,
                                        PadLPadRight, PadLPadUp, PadA, PadLT, PadLB, PadStart}));
        EXPECT_EQ(device.GetRawValue(PadLStickUp), 1.0f);
        EXPECT_EQ(device.GetTriggerBits(), 5u);
        // 9830 is 300 of 1000, the threshold itself.
        pad.Set({9830, 0, 0, 0}, SDL_HAT_LEFTDOWN, 0x6e, false, true);
        EXPECT_TRUE(FrameUpdate());
        EXPECT_EQ(Down(0), (std::vector<int32_t>{PadLPadLeft, PadLPadDown, PadX, PadB, PadY, PadRT,
                                                 PadRB, PadBack}));
        EXPECT_EQ(device.GetRawValue(PadLStickRight), 0.3f);
        EXPECT_TRUE(device.WentUp(PadA) && device.WentDown(PadRB));
    });
}

TEST_P(SdlJoysticksTest, AJoystickNodeReadsTheFirstPad) {
    test::ExpectInFreshProcess([this] {
        VirtualPad& pad = Attach("Test 360 Pad");
        ASSERT_TRUE(StartSmall());
        test::TestTree tree;
        auto* joystick = tree.Make<Joystick>("joystick", nullptr);
        EXPECT_TRUE(joystick->IsConnected());
        pad.Set({32767, -32768, 0, 0}, SDL_HAT_CENTERED, 0x1, false, false);
        EXPECT_TRUE(FrameUpdate());
        const Float2 stick = joystick->GetLeftStick(0);
        EXPECT_NEAR(stick.x, 1.0f, 1e-3f);
        EXPECT_NEAR(stick.y, 1.0f, 1e-3f);
        EXPECT_TRUE(joystick->IsDown(PadA));
        EXPECT_TRUE(joystick->WentDown(PadA));
        EXPECT_FALSE(joystick->IsDown(PadB));
    });
}

TEST_P(SdlJoysticksTest, FirstDeviceUsedTakesTheFirstPadAndOneWithout360HasNoButtons) {
    test::ExpectInFreshProcess([this] {
        Attach("Plain Pad").Set({}, SDL_HAT_UP, 0xff, true, false);
        Attach("Second 360").Set({}, SDL_HAT_CENTERED, 1, false, false);
        ASSERT_TRUE(StartSmall());
        ASSERT_EQ(GetPlatform()->GetJoystickCount(), 2);
        JoystickDevice& plain = *Device(1);
        ASSERT_TRUE(plain.IsAvailable());
        EXPECT_TRUE(FrameUpdate());
        EXPECT_EQ(Down(1), std::vector<int32_t>{});
        EXPECT_STREQ(plain.GetButtonName(PadA), "unknown");
        EXPECT_EQ(plain.GetDefaultBinding(PadA), PadNoBinding);
        EXPECT_EQ(Down(0), std::vector<int32_t>{PadA});
        EXPECT_EQ(Device(2), nullptr);
    });
}

TEST_P(SdlJoysticksTest, UnpluggedPadFailsItsReadAndTheFramesGoOn) {
    test::ExpectInFreshProcess([this] {
        VirtualPad& first = Attach("First 360");
        Attach("Second 360");
        ASSERT_TRUE(StartSmall());
        EXPECT_TRUE(FrameUpdate());
        first.Detach();
        EXPECT_TRUE(FrameUpdate());
        EXPECT_STREQ(Device(0)->GetErrorText(), "Failed to acquire device");
        // The unplugged pad's record stays taken and the other pad is the other device's.
        EXPECT_FALSE(Device(0)->IsAvailable());
        EXPECT_TRUE(FrameUpdate());
        EXPECT_TRUE(Device(1)->IsAvailable());
    });
}

} // namespace
} // namespace quarn
