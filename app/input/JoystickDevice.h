#pragma once

#include "app/input/Keyboard.h"

#include <cstdint>
#include <memory>
#include <string>

namespace quarn {

// Pad buttons: what a decoded controller reports. Games, input nodes and scripts store these
// numbers; the table gives each its name, threshold and default binding.
enum PadButton : int32_t {
    PadLStickLeft = 0,
    PadLStickRight = 1,
    PadLStickUp = 2,
    PadLStickDown = 3,
    PadRStickLeft = 4,
    PadRStickRight = 5,
    PadRStickUp = 6,
    PadRStickDown = 7,
    PadLPadLeft = 8,
    PadLPadRight = 9,
    PadLPadUp = 10,
    PadLPadDown = 11,
    PadX = 12,
    PadB = 13,
    PadY = 14,
    PadA = 15,
    PadLT = 16,
    PadLB = 17,
    PadRT = 20,
    PadRB = 21,
    PadStart = 24,
    PadMenu = 25, // named, but no controller sets it
    PadBack = 27, // the controller's back button; unnamed in the table ("Unknown")
    PadButtonCount = 28,
    PadButtonNone = 29,
};

// The binding code of a button that has none.
constexpr int32_t PadNoBinding = 0x20000;

// Table lookups; an index outside 0-27 gives "Unknown", 0.0 and PadNoBinding.
const char* GetPadButtonName(int32_t button);
// Both the press threshold and the dead zone.
float GetPadButtonThreshold(int32_t button);
int32_t GetPadButtonDefaultBinding(int32_t button);

// Controller kinds: only a controller whose product name contains "360" is decoded.
enum JoystickKind : int32_t {
    JoystickKindOther = 0,
    JoystickKindDecoded = 4,
};

// A controller's state as the decoder reads it: axes in -1000..1000 with Y positive downwards,
// Z the two triggers combined (left negative, right positive), the hat in hundredths of a
// degree clockwise from up (-1 centred), and buttons non-zero while down: A, B, X, Y, left
// shoulder, right shoulder, back, start.
struct JoystickState {
    int32_t x = 0;
    int32_t y = 0;
    int32_t z = 0;
    int32_t rx = 0;
    int32_t ry = 0;
    int32_t hat = -1;
    uint8_t buttons[8] = {};
};

// One opened controller; destroying it releases it.
class JoystickController {
public:
    explicit JoystickController(std::string productName) : productName_(std::move(productName)) {}
    virtual ~JoystickController() = default;
    JoystickController(const JoystickController&) = delete;
    JoystickController& operator=(const JoystickController&) = delete;

    const std::string& ProductName() const { return productName_; }
    // False when the controller can no longer be read (it was unplugged).
    virtual bool Read(JoystickState& state) = 0;

private:
    std::string productName_;
};

// What a joystick device needs of the platform: the enumerated controllers.
class JoystickSource {
public:
    virtual ~JoystickSource() = default;
    // Opens the first enumerated controller that no device has opened and marks it opened;
    // null when opening it fails or none is left.
    virtual std::unique_ptr<JoystickController> OpenNextController() = 0;
};

// A game controller as 28 pad buttons, each with a state word (KeyState: up, released, held,
// pressed) and an analogue value. It takes a controller on first use and rebuilds its states
// from it on every poll.
class JoystickDevice {
public:
    explicit JoystickDevice(JoystickSource& source) : source_(source) {}
    ~JoystickDevice();
    JoystickDevice(const JoystickDevice&) = delete;
    JoystickDevice& operator=(const JoystickDevice&) = delete;

    // Opens a controller on first use; true while one is open.
    bool IsAvailable();
    // False when no controller could be opened or read.
    bool Poll();
    // Keeps only the down bit of each state.
    void EndFrame();
    // "" or "Failed to acquire device".
    const char* GetErrorText() const { return errorText_.c_str(); }
    bool WentDown(int32_t button) const;
    bool WentUp(int32_t button) const;
    bool IsDown(int32_t button) const;
    float GetRawValue(int32_t button) const;
    // The value past the button's dead zone, scaled back to 0..1.
    float GetValue(int32_t button) const;
    // Bits 0-3: "LT", "RT", "LB", "RB" down.
    uint32_t GetTriggerBits() const;
    // After a poll of a decoded controller: the last pressed button still down, or PadButtonNone;
    // -1 after any other poll.
    int32_t GetCurrentButton() const { return currentButton_; }
    int32_t GetDecodedButton() const { return decodedButton_; }
    int32_t UnusedCount() const { return 0; }
    // Decoded controllers only; others give PadNoBinding and "unknown".
    int32_t GetDefaultBinding(int32_t button) const;
    const char* GetButtonName(int32_t button) const;
    int32_t UnusedButton(int32_t, int32_t) const { return PadButtonNone; }
    void Unused(int32_t, int32_t) {}
    float UnusedValue(int32_t) const { return 0.0f; }

private:
    bool Open();
    void Decode(const JoystickState& state);
    void UpdateButton(int32_t button, float value);
    // Every state read goes through here: the current button may be PadButtonNone.
    int32_t StateOf(int32_t button) const;

    // The button pressed last among those still down, shared by every controller.
    static inline int32_t currentGlobal_ = PadButtonNone;

    JoystickSource& source_;
    std::string errorText_;
    std::unique_ptr<JoystickController> controller_;
    int32_t currentButton_ = 0;
    int32_t decodedButton_ = 0;
    int32_t kind_ = JoystickKindOther;
    int32_t states_[PadButtonCount] = {};
    float values_[PadButtonCount] = {};
};

} // namespace quarn
