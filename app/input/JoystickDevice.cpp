#include "app/input/JoystickDevice.h"

#include <algorithm>

namespace quarn {

namespace {

struct PadButtonInfo {
    char name[16];
    float threshold;
    int32_t defaultBinding;
};

const PadButtonInfo PadButtons[PadButtonCount] = {
    {"LStick Left", 0.3f, 0x551}, {"LStick Right", 0.3f, 0x552},
    {"LStick Up", 0.3f, 0x554},   {"LStick Down", 0.3f, 0x558},
    {"RStick Left", 0.3f, 0x951}, {"RStick Right", 0.3f, 0x952},
    {"RStick Up", 0.3f, 0x954},   {"RStick Down", 0.3f, 0x958},
    {"LPad Left", 0.3f, 0x501},   {"LPad Right", 0.3f, 0x502},
    {"LPad Up", 0.3f, 0x504},     {"LPad Down", 0.3f, 0x508},
    {"X", 0.3f, 0x901},           {"B", 0.3f, 0x902},
    {"Y", 0.3f, 0x904},           {"A", 0.3f, 0x908},
    {"LT", 0.3f, 0x1610},         {"LB", 0.3f, 0x2610},
    {"Unknown", 0.0f, 0x20000},   {"Unknown", 0.0f, 0x20000},
    {"RT", 0.3f, 0x1a10},         {"RB", 0.3f, 0x2a10},
    {"Unknown", 0.0f, 0x20000},   {"Unknown", 0.0f, 0x20000},
    {"Start", 0.3f, 0x11000},     {"Menu", 0.0f, 0x12000},
    {"Unknown", 0.0f, 0x20000},   {"Unknown", 0.0f, 0x20000},
};

const PadButtonInfo NoPadButton = {"Unknown", 0.0f, PadNoBinding};

const PadButtonInfo& InfoOf(int32_t button) {
    return button >= 0 && button < PadButtonCount ? PadButtons[button] : NoPadButton;
}

// The pad buttons of the controller's buttons 0-7.
const int32_t ButtonTargets[8] = {PadA, PadB, PadX, PadY, PadLT, PadRT, PadBack, PadStart};

const char* const FailedToAcquire = "Failed to acquire device";

} // namespace

const char* GetPadButtonName(int32_t button) {
    return InfoOf(button).name;
}

float GetPadButtonThreshold(int32_t button) {
    return InfoOf(button).threshold;
}

int32_t GetPadButtonDefaultBinding(int32_t button) {
    return InfoOf(button).defaultBinding;
}

JoystickDevice::~JoystickDevice() = default;

int32_t JoystickDevice::StateOf(int32_t button) const {
    return button >= 0 && button < PadButtonCount ? states_[button] : KeyUpState;
}

bool JoystickDevice::Open() {
    controller_ = source_.OpenNextController();
    if (!controller_) {
        errorText_ = FailedToAcquire;
        return false;
    }
    kind_ = controller_->ProductName().find("360") != std::string::npos ? JoystickKindDecoded
                                                                        : JoystickKindOther;
    return true;
}

bool JoystickDevice::IsAvailable() {
    return controller_ || Open();
}

bool JoystickDevice::Poll() {
    currentButton_ = -1;
    if (!controller_ && !Open()) {
        return false;
    }
    JoystickState state;
    if (!controller_->Read(state)) {
        // Released, so that a later use opens the next free controller.
        errorText_ = FailedToAcquire;
        controller_.reset();
        return false;
    }
    if (kind_ == JoystickKindDecoded) {
        Decode(state);
        decodedButton_ = currentGlobal_;
        currentButton_ = StateOf(currentGlobal_) == KeyUpState ? PadButtonNone : currentGlobal_;
    }
    return true;
}

void JoystickDevice::UpdateButton(int32_t button, float value) {
    bool down = value > PadButtons[button].threshold;
    int32_t state = down ? KeyHeld : KeyUpState;
    values_[button] = value;
    if ((state ^ states_[button]) & KeyHeld) {
        state |= 1;
        if (down) {
            currentGlobal_ = button;
        } else if (currentGlobal_ == button) {
            currentGlobal_ = PadButtonNone;
        }
    }
    if (down && currentGlobal_ == PadButtonNone) {
        currentGlobal_ = button;
    }
    states_[button] = state;
}

void JoystickDevice::Decode(const JoystickState& state) {
    int32_t hat = state.hat;
    auto pressedIf = [](bool on) { return on ? 1.0f : 0.0f; };
    // The boundary angles press two directions.
    UpdateButton(PadLPadUp, pressedIf((hat >= 0 && hat <= 4500) || hat >= 31500));
    UpdateButton(PadLPadRight, pressedIf(hat >= 4500 && hat <= 13500));
    UpdateButton(PadLPadDown, pressedIf(hat >= 13500 && hat <= 22500));
    UpdateButton(PadLPadLeft, pressedIf(hat >= 22500 && hat <= 31500));
    for (int32_t i = 0; i < 8; ++i) {
        UpdateButton(ButtonTargets[i], pressedIf(state.buttons[i] != 0));
    }
    auto halves = [this](int32_t axis, int32_t negative, int32_t positive) {
        UpdateButton(negative, static_cast<float>(std::max(0.0, -axis / 1000.0)));
        UpdateButton(positive, static_cast<float>(std::max(0.0, axis / 1000.0)));
    };
    halves(state.x, PadLStickLeft, PadLStickRight);
    halves(state.y, PadLStickUp, PadLStickDown);
    halves(state.rx, PadRStickLeft, PadRStickRight);
    halves(state.ry, PadRStickUp, PadRStickDown);
    halves(state.z, PadLB, PadRB);
    if (StateOf(currentGlobal_) == KeyUpState) {
        currentGlobal_ = PadButtonNone;
    }
}

void JoystickDevice::EndFrame() {
    for (int32_t& state : states_) {
        state &= KeyHeld;
    }
}

bool JoystickDevice::WentDown(int32_t button) const {
    return controller_ && StateOf(button) == KeyPressed;
}

bool JoystickDevice::WentUp(int32_t button) const {
    return controller_ && StateOf(button) == KeyReleased;
}

bool JoystickDevice::IsDown(int32_t button) const {
    return controller_ && (StateOf(button) & KeyHeld);
}

float JoystickDevice::GetRawValue(int32_t button) const {
    return button >= 0 && button < PadButtonCount ? values_[button] : 0.0f;
}

float JoystickDevice::GetValue(int32_t button) const {
    float threshold = kind_ == JoystickKindDecoded ? GetPadButtonThreshold(button) : 0.0f;
    float value = GetRawValue(button);
    return value > threshold ? (value - threshold) / (1.0f - threshold) : 0.0f;
}

uint32_t JoystickDevice::GetTriggerBits() const {
    return (IsDown(PadLT) ? 1u : 0u) | (IsDown(PadRT) ? 2u : 0u) | (IsDown(PadLB) ? 4u : 0u) |
           (IsDown(PadRB) ? 8u : 0u);
}

int32_t JoystickDevice::GetDefaultBinding(int32_t button) const {
    return kind_ == JoystickKindDecoded ? GetPadButtonDefaultBinding(button) : PadNoBinding;
}

const char* JoystickDevice::GetButtonName(int32_t button) const {
    return kind_ == JoystickKindDecoded ? GetPadButtonName(button) : "unknown";
}

} // namespace quarn
