#include "app/platform/SdlJoysticks.h"

#include <SDL.h>
#include <cmath>

namespace quarn {

namespace {

// SDL's sticks span -32768..32767, the decoder's axes -1000..1000.
int32_t ScaleStick(int32_t value) {
    return static_cast<int32_t>(std::lround(value * 1000.0 / 32767.0));
}

// A trigger from 0 (released) to 1000, given its released and fully pressed SDL values.
int32_t ScaleTrigger(int32_t value, int32_t released) {
    return static_cast<int32_t>(std::lround((value - released) * 1000.0 / (32767 - released)));
}

// An SDL hat or d-pad as an angle in hundredths of a degree clockwise from up, -1 centred.
// Opposite directions held together cancel.
int32_t HatAngle(uint8_t hat) {
    if ((hat & (SDL_HAT_UP | SDL_HAT_DOWN)) == (SDL_HAT_UP | SDL_HAT_DOWN)) {
        hat &= ~(SDL_HAT_UP | SDL_HAT_DOWN);
    }
    if ((hat & (SDL_HAT_LEFT | SDL_HAT_RIGHT)) == (SDL_HAT_LEFT | SDL_HAT_RIGHT)) {
        hat &= ~(SDL_HAT_LEFT | SDL_HAT_RIGHT);
    }
    switch (hat) {
    case SDL_HAT_UP:
        return 0;
    case SDL_HAT_RIGHTUP:
        return 4500;
    case SDL_HAT_RIGHT:
        return 9000;
    case SDL_HAT_RIGHTDOWN:
        return 13500;
    case SDL_HAT_DOWN:
        return 18000;
    case SDL_HAT_LEFTDOWN:
        return 22500;
    case SDL_HAT_LEFT:
        return 27000;
    case SDL_HAT_LEFTUP:
        return 31500;
    default:
        return -1;
    }
}

// A controller read through SDL's game-controller mapping when it has one (a stable layout
// whatever the driver numbers), else through the raw joystick.
class SdlController : public JoystickController {
public:
    SdlController(std::string productName, SDL_GameController* mapped, SDL_Joystick* joystick)
        : JoystickController(std::move(productName)), mapped_(mapped), joystick_(joystick) {}
    ~SdlController() override {
        if (mapped_) {
            SDL_GameControllerClose(mapped_);
        } else {
            SDL_JoystickClose(joystick_);
        }
    }

    bool Read(JoystickState& state) override {
        SDL_JoystickUpdate();
        if (!SDL_JoystickGetAttached(joystick_)) {
            return false;
        }
        if (mapped_) {
            ReadMapped(state);
        } else {
            ReadRaw(state);
        }
        return true;
    }

private:
    void ReadMapped(JoystickState& state) {
        auto axis = [this](SDL_GameControllerAxis which) {
            return SDL_GameControllerGetAxis(mapped_, which);
        };
        auto button = [this](SDL_GameControllerButton which) {
            return SDL_GameControllerGetButton(mapped_, which);
        };
        state.x = ScaleStick(axis(SDL_CONTROLLER_AXIS_LEFTX));
        state.y = ScaleStick(axis(SDL_CONTROLLER_AXIS_LEFTY));
        state.rx = ScaleStick(axis(SDL_CONTROLLER_AXIS_RIGHTX));
        state.ry = ScaleStick(axis(SDL_CONTROLLER_AXIS_RIGHTY));
        state.z = ScaleTrigger(axis(SDL_CONTROLLER_AXIS_TRIGGERRIGHT), 0) -
                  ScaleTrigger(axis(SDL_CONTROLLER_AXIS_TRIGGERLEFT), 0);
        uint8_t hat = (button(SDL_CONTROLLER_BUTTON_DPAD_UP) ? SDL_HAT_UP : 0) |
                      (button(SDL_CONTROLLER_BUTTON_DPAD_RIGHT) ? SDL_HAT_RIGHT : 0) |
                      (button(SDL_CONTROLLER_BUTTON_DPAD_DOWN) ? SDL_HAT_DOWN : 0) |
                      (button(SDL_CONTROLLER_BUTTON_DPAD_LEFT) ? SDL_HAT_LEFT : 0);
        state.hat = HatAngle(hat);
        const SDL_GameControllerButton order[8] = {
            SDL_CONTROLLER_BUTTON_A,
            SDL_CONTROLLER_BUTTON_B,
            SDL_CONTROLLER_BUTTON_X,
            SDL_CONTROLLER_BUTTON_Y,
            SDL_CONTROLLER_BUTTON_LEFTSHOULDER,
            SDL_CONTROLLER_BUTTON_RIGHTSHOULDER,
            SDL_CONTROLLER_BUTTON_BACK,
            SDL_CONTROLLER_BUTTON_START,
        };
        for (int i = 0; i < 8; ++i) {
            state.buttons[i] = button(order[i]);
        }
    }

    // Axes 0-1 the left stick, 2-3 the right stick, 4-5 the triggers, which rest at the bottom
    // of their range; buttons 0-7 as numbered. What the controller lacks reads as at rest.
    void ReadRaw(JoystickState& state) {
        int axes = SDL_JoystickNumAxes(joystick_);
        auto axis = [&](int index, int32_t rest) {
            return index < axes ? SDL_JoystickGetAxis(joystick_, index) : rest;
        };
        state.x = ScaleStick(axis(0, 0));
        state.y = ScaleStick(axis(1, 0));
        state.rx = ScaleStick(axis(2, 0));
        state.ry = ScaleStick(axis(3, 0));
        state.z = ScaleTrigger(axis(5, -32768), -32768) - ScaleTrigger(axis(4, -32768), -32768);
        state.hat =
            SDL_JoystickNumHats(joystick_) > 0 ? HatAngle(SDL_JoystickGetHat(joystick_, 0)) : -1;
        int buttons = SDL_JoystickNumButtons(joystick_);
        for (int i = 0; i < 8 && i < buttons; ++i) {
            state.buttons[i] = SDL_JoystickGetButton(joystick_, i);
        }
    }

    SDL_GameController* mapped_;
    SDL_Joystick* joystick_;
};

} // namespace

SdlJoysticks::~SdlJoysticks() {
    // The devices let their controllers go while SDL still knows them.
    for (auto& device : devices_) {
        device.reset();
    }
    if (started_) {
        SDL_QuitSubSystem(SDL_INIT_GAMECONTROLLER);
    }
}

int32_t SdlJoysticks::Enumerate() {
    enumerated_ = true;
    records_.clear();
    if (!started_) {
        // Pads are read while no window has the keyboard focus, as the offscreen driver runs.
        SDL_SetHint(SDL_HINT_JOYSTICK_ALLOW_BACKGROUND_EVENTS, "1");
        started_ = SDL_InitSubSystem(SDL_INIT_GAMECONTROLLER) == 0;
        if (!started_) {
            return 0;
        }
    }
    SDL_JoystickUpdate(); // notices controllers plugged in since the last scan
    int32_t attached = SDL_NumJoysticks();
    for (int32_t index = 0; index < attached && index < MaxControllers; ++index) {
        const char* name = SDL_JoystickNameForIndex(index);
        records_.push_back({SDL_JoystickGetDeviceInstanceID(index), name ? name : "", false});
    }
    return static_cast<int32_t>(records_.size());
}

int32_t SdlJoysticks::GetCount() {
    return enumerated_ ? static_cast<int32_t>(records_.size()) : Enumerate();
}

JoystickDevice* SdlJoysticks::Create(int32_t index) {
    if (index < 0 || index >= static_cast<int32_t>(records_.size())) {
        return nullptr;
    }
    if (!devices_[index]) {
        devices_[index] = std::make_unique<JoystickDevice>(static_cast<JoystickSource&>(*this));
    }
    return devices_[index].get();
}

std::unique_ptr<JoystickController> SdlJoysticks::OpenNextController() {
    if (!enumerated_) {
        Enumerate();
    }
    for (Record& record : records_) {
        if (record.opened) {
            continue;
        }
        // The first free record is the one tried; an unplugged one fails the open.
        int32_t attached = SDL_NumJoysticks();
        for (int32_t index = 0; index < attached; ++index) {
            if (SDL_JoystickGetDeviceInstanceID(index) != record.instanceId) {
                continue;
            }
            SDL_GameController* mapped = nullptr;
            SDL_Joystick* joystick = nullptr;
            if (SDL_IsGameController(index)) {
                mapped = SDL_GameControllerOpen(index);
                joystick = mapped ? SDL_GameControllerGetJoystick(mapped) : nullptr;
            } else {
                joystick = SDL_JoystickOpen(index);
            }
            if (!joystick) {
                return nullptr;
            }
            record.opened = true;
            return std::make_unique<SdlController>(record.productName, mapped, joystick);
        }
        return nullptr;
    }
    return nullptr;
}

} // namespace quarn
