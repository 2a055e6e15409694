#pragma once

#include "core/math/Vector.h"
#include "core/object/EntityRef.h"
#include "core/scene/Node.h"

#include <cstdint>
#include <string>

namespace quarn {

// Engine key code that names no key.
inline constexpr int32_t NoKeyCode = 75;

// The engine key code of a scan code stored by scenes older than version 30; NoKeyCode for
// every code without one. Kept apart from the keyboard's own table, which also maps the Alt keys
// that old scenes never meant, and needed where no platform exists (tools).
int32_t UpgradeStoredKeyCode(int32_t scanCode);

// Watches one key and tells its "on" output when the key goes down and "off" when it goes up.
class InputCode : public Node {
public:
    InputCode();

    int32_t GetKeyCode() const { return keyCode_; }
    void SetKeyCode(int32_t code) { keyCode_ = code; }
    const char* GetKeyName() const;

    int GetOutputCount() const override { return 2; }
    const char* GetOutputName(int port) const override;
    void SetPortValue(int port, const EntityRef& reference) override;
    EntityRef GetPortValue(int port) const override;
    void Update(float frameTime, int mode) override;
    void UpgradeVersion(int fileVersion) override;
    ClassInfo* GetClass() const override { return classInfo; }

    static ClassInfo* RegisterClass();
    static ClassInfo* classInfo;

private:
    int32_t keyCode_ = NoKeyCode;
    mutable std::string keyName_; // what the script reads lives until the next call
    EntityRef witnessOn_;
    EntityRef witnessOff_;
};

// Script methods over the keyboard; the key tests answer as if nothing were pressed while the
// node is not fully enabled.
class KeyboardInterface : public Node {
public:
    KeyboardInterface();

    bool WentDown(int32_t code) const;
    bool WentUp(int32_t code) const;
    bool IsDown(int32_t code) const;
    bool IsShiftDown() const;
    bool IsCtrlDown() const;
    bool IsAltDown() const;
    int32_t GetLastPressedKey() const;
    int32_t GetHeldKey() const;
    const char* GetKeyName(int32_t code) const;
    void ConsumePress(int32_t code);

    ClassInfo* GetClass() const override { return classInfo; }

    static ClassInfo* RegisterClass();
    static ClassInfo* classInfo;

private:
    mutable std::string keyName_;
};

// Script methods over the first joystick. Without a device the values are 0 and the tests false.
class Joystick : public Node {
public:
    Joystick();

    // Scans the controllers again when the device is missing or unavailable.
    bool IsConnected();
    Float2 GetLeftStick(int32_t unused) const;
    Float2 GetLeftStickPastDeadZone(int32_t unused, bool alsoUnused) const;
    float GetValue(int32_t button) const;
    float GetValuePastDeadZone(int32_t button) const;
    bool WentDown(int32_t button) const;
    bool WentUp(int32_t button) const;
    bool IsDown(int32_t button) const;
    const char* GetButtonName(int32_t button) const;
    int32_t GetCurrentButton() const;
    int32_t GetDecodedButton() const;

    ClassInfo* GetClass() const override { return classInfo; }

    static ClassInfo* RegisterClass();
    static ClassInfo* classInfo;

private:
    Float2 LeftStick(bool deadZone) const;

    bool hasDevice_ = false;
    mutable std::string buttonName_;
};

} // namespace quarn
