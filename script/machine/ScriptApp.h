#pragma once

#include "core/math/Vector.h"

#include <cstdint>
#include <string>

namespace quarn {

class OnlineService;

// What the script library needs of the application shell: the input devices, the cursor, the
// clipboard and the host. The shell installs its implementation at start-up; until then (and
// in tools) the answers are those of a machine without mouse, clipboard or window.
class ScriptApp {
public:
    virtual ~ScriptApp() = default;

    virtual bool HasMouse() { return false; }
    virtual Float2 GetMousePosition() { return {}; }
    virtual Float2 GetMouseDelta() { return {}; }
    virtual int32_t GetMouseWheel() { return 0; }
    // Buttons 0..3; the library checks the range before it asks.
    virtual bool MouseWentDown(int32_t) { return false; }
    virtual bool MouseClicked(int32_t) { return false; }
    virtual bool MouseIsDown(int32_t) { return false; }
    virtual bool MouseWentUp(int32_t) { return false; }
    virtual void SetMouseTag(int32_t, const char*) {}
    virtual std::string GetMouseTag(int32_t) { return {}; }
    // The button as the owner named sees it: an owned button answers only its owner, a free
    // one only "".
    virtual bool MouseWentDownFor(int32_t, const char*) { return false; }
    // Went down by a press that is no double click's second.
    virtual bool MouseWentDownSinglyFor(int32_t, const char*) { return false; }
    virtual bool MouseWentUpFor(int32_t, const char*) { return false; }
    virtual bool MouseIsDownFor(int32_t, const char*) { return false; }
    virtual void ShowCursor(bool) {}
    virtual void SetMousePosition(int32_t, int32_t) {}
    // The clipboard's text as Latin-1 bytes; "" when it holds none.
    virtual std::string GetClipboardText() { return {}; }
    // Queues the key presses that type the Latin-1 character.
    virtual void TypeCharacter(uint8_t) {}
    // Marks every key that is down as held, so a dialog's keys are no new presses.
    virtual void HoldKeysDown() {}
    // Tells the keyboard that a dialog consumed the key.
    virtual void ConsumeKey(int32_t) {}
    // Engine key codes 0..74; 75 is no key.
    virtual bool KeyWentDown(int32_t) { return false; }
    virtual bool KeyWentUp(int32_t) { return false; }
    virtual bool KeyIsDown(int32_t) { return false; }
    virtual int32_t GetLastPressedKey() { return 75; }
    virtual int32_t GetHeldKey() { return 75; }
    virtual std::string GetKeyName(int32_t) { return {}; }
    // The first joystick: whether a device for it exists, after scanning the controllers
    // again when asked. The other calls answer as for a missing device until one exists.
    virtual bool TakeJoystick(bool /*rescan*/) { return false; }
    virtual bool JoystickAvailable() { return false; }
    // Pad buttons 0..27.
    virtual float GetJoystickValue(int32_t /*button*/, bool /*deadZone*/) { return 0.0f; }
    virtual bool JoystickWentDown(int32_t) { return false; }
    virtual bool JoystickWentUp(int32_t) { return false; }
    virtual bool JoystickIsDown(int32_t) { return false; }
    virtual std::string GetJoystickButtonName(int32_t) { return "unknown"; }
    // The device's current (0) and decoded (1) button; 29 for none.
    virtual int32_t GetJoystickButton(int32_t /*which*/) { return 29; }
    virtual uint32_t GetFrameCount() { return 0; }
    virtual double GetTime() { return 0.0; }
    virtual Int2 GetViewSize() { return {}; }
    virtual uint32_t GetVolumeSerial() { return 0; }
    virtual std::string GetDesktopFolder() { return {}; }
    virtual std::string GetProgramPath() { return {}; }
    // The online service's client, created on the first request; null when there is none.
    virtual OnlineService* GetOnlineService() { return nullptr; }
};

// Not owned; null restores the answers of the base class.
void SetScriptApp(ScriptApp* app);
ScriptApp& GetScriptApp();

} // namespace quarn
