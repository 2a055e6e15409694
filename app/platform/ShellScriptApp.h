#pragma once

#include "script/machine/ScriptApp.h"

#include <cstdint>
#include <string>

namespace quarn {

// What scripts reach of the shell: the platform of the run, its mouse and keyboard, SDL's
// clipboard and event queue. Devices that do not exist answer as absent.
class ShellScriptApp : public ScriptApp {
public:
    bool HasMouse() override;
    Float2 GetMousePosition() override;
    Float2 GetMouseDelta() override;
    int32_t GetMouseWheel() override;
    bool MouseWentDown(int32_t button) override;
    bool MouseClicked(int32_t button) override;
    bool MouseIsDown(int32_t button) override;
    bool MouseWentUp(int32_t button) override;
    void SetMouseTag(int32_t button, const char* tag) override;
    std::string GetMouseTag(int32_t button) override;
    bool MouseWentDownFor(int32_t button, const char* owner) override;
    bool MouseWentDownSinglyFor(int32_t button, const char* owner) override;
    bool MouseWentUpFor(int32_t button, const char* owner) override;
    bool MouseIsDownFor(int32_t button, const char* owner) override;
    void ShowCursor(bool show) override;
    void SetMousePosition(int32_t x, int32_t y) override;
    std::string GetClipboardText() override;
    void TypeCharacter(uint8_t character) override;
    void HoldKeysDown() override;
    void ConsumeKey(int32_t code) override;
    bool KeyWentDown(int32_t code) override;
    bool KeyWentUp(int32_t code) override;
    bool KeyIsDown(int32_t code) override;
    int32_t GetLastPressedKey() override;
    int32_t GetHeldKey() override;
    std::string GetKeyName(int32_t code) override;
    bool TakeJoystick(bool rescan) override;
    bool JoystickAvailable() override;
    float GetJoystickValue(int32_t button, bool deadZone) override;
    bool JoystickWentDown(int32_t button) override;
    bool JoystickWentUp(int32_t button) override;
    bool JoystickIsDown(int32_t button) override;
    std::string GetJoystickButtonName(int32_t button) override;
    int32_t GetJoystickButton(int32_t which) override;
    uint32_t GetFrameCount() override;
    double GetTime() override;
    Int2 GetViewSize() override;
    uint32_t GetVolumeSerial() override;
    std::string GetDesktopFolder() override;
    std::string GetProgramPath() override;
    OnlineService* GetOnlineService() override;
};

// UTF-8 as Latin-1 bytes: '?' for each character Latin-1 lacks and for each broken sequence.
std::string Utf8ToLatin1(const char* text);

// Queues an SDL key event (scancode) as the keyboard would send it.
void PushKeyEvent(int scancode, bool down);

// The key that types a Latin-1 character on a US layout, as an SDL scancode, and whether Shift
// is needed; false for a character no key types.
bool KeyOfCharacter(uint8_t character, int& scancode, bool& shift);

} // namespace quarn
