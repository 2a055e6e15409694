#include "app/platform/ShellScriptApp.h"

#include "app/input/JoystickDevice.h"
#include "app/input/Keyboard.h"
#include "app/input/Mouse.h"
#include "app/platform/Platform.h"

#include <SDL.h>
#include <cstring>

namespace quarn {

namespace {

Float2 ToFloat2(Int2 value) {
    return {static_cast<float>(value.x), static_cast<float>(value.y)};
}

// Keys that type a shifted character, at the same position as the unshifted one.
constexpr char Shifted[] = "!@#$%^&*()_+{}|:\"<>?~";
constexpr char Unshifted[] = "1234567890-=[]\\;',./`";

} // namespace

std::string Utf8ToLatin1(const char* text) {
    std::string result;
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    for (size_t at = 0; bytes[at];) {
        const uint32_t lead = bytes[at++];
        if (lead < 0x80) {
            result += static_cast<char>(lead);
            continue;
        }
        int follow = (lead & 0xE0) == 0xC0 ? 1 : (lead & 0xF0) == 0xE0 ? 2 : (lead & 0xF8) == 0xF0 ? 3 : 0;
        uint32_t character = lead & (0x3Fu >> follow);
        bool whole = follow > 0;
        for (; follow > 0; --follow) {
            if ((bytes[at] & 0xC0) != 0x80) {
                whole = false;
                break;
            }
            character = (character << 6) | (bytes[at++] & 0x3F);
        }
        result += whole && character <= 0xFF ? static_cast<char>(character) : '?';
    }
    return result;
}

void PushKeyEvent(int scancode, bool down) {
    const auto key = static_cast<SDL_Scancode>(scancode);
    SDL_Event event{};
    event.type = down ? SDL_KEYDOWN : SDL_KEYUP;
    event.key.state = down ? SDL_PRESSED : SDL_RELEASED;
    event.key.keysym.scancode = key;
    event.key.keysym.sym = SDL_GetKeyFromScancode(key);
    SDL_PushEvent(&event);
}

bool KeyOfCharacter(uint8_t character, int& scancode, bool& shift) {
    shift = false;
    if (character >= 'A' && character <= 'Z') {
        shift = true;
        character = static_cast<uint8_t>(character - 'A' + 'a');
    } else if (character != 0) {
        if (const char* at = std::strchr(Shifted, character)) {
            shift = true;
            character = static_cast<uint8_t>(Unshifted[at - Shifted]);
        }
    }
    // Unshifted printable keys have the character as their SDL key code.
    const bool typed = character == ' ' || character == '\r' || character == '\t' ||
                       character == '\b' || (character > ' ' && character < 0x7F);
    if (!typed) {
        return false;
    }
    scancode = SDL_GetScancodeFromKey(static_cast<SDL_Keycode>(character));
    return scancode != SDL_SCANCODE_UNKNOWN;
}

bool ShellScriptApp::HasMouse() {
    return Mouse::Get() != nullptr;
}

Float2 ShellScriptApp::GetMousePosition() {
    Mouse* mouse = Mouse::Get();
    return mouse ? ToFloat2(mouse->GetPosition()) : Float2{};
}

Float2 ShellScriptApp::GetMouseDelta() {
    Mouse* mouse = Mouse::Get();
    return mouse ? ToFloat2(mouse->GetDelta()) : Float2{};
}

int32_t ShellScriptApp::GetMouseWheel() {
    Mouse* mouse = Mouse::Get();
    return mouse ? mouse->GetWheel() : 0;
}

// The tag tests answer for the button's own state when given its own tag.
bool ShellScriptApp::MouseWentDown(int32_t button) {
    Mouse* mouse = Mouse::Get();
    return mouse && mouse->WentDown(button, mouse->GetOwner(button));
}

bool ShellScriptApp::MouseClicked(int32_t button) {
    Mouse* mouse = Mouse::Get();
    return mouse && mouse->WasClicked(button);
}

bool ShellScriptApp::MouseIsDown(int32_t button) {
    Mouse* mouse = Mouse::Get();
    return mouse && mouse->IsDown(button, mouse->GetOwner(button));
}

bool ShellScriptApp::MouseWentUp(int32_t button) {
    Mouse* mouse = Mouse::Get();
    return mouse && mouse->WentUp(button, mouse->GetOwner(button));
}

void ShellScriptApp::SetMouseTag(int32_t button, const char* tag) {
    if (Mouse* mouse = Mouse::Get()) {
        if (*tag) {
            mouse->SetOwner(button, tag);
        } else {
            mouse->ClearOwner(button);
        }
    }
}

std::string ShellScriptApp::GetMouseTag(int32_t button) {
    Mouse* mouse = Mouse::Get();
    const char* tag = mouse ? mouse->GetOwner(button) : nullptr;
    return tag ? tag : "";
}

bool ShellScriptApp::MouseWentDownFor(int32_t button, const char* owner) {
    Mouse* mouse = Mouse::Get();
    return mouse && mouse->WentDown(button, owner);
}

bool ShellScriptApp::MouseWentDownSinglyFor(int32_t button, const char* owner) {
    Mouse* mouse = Mouse::Get();
    return mouse && mouse->WentDownSingly(button, owner);
}

bool ShellScriptApp::MouseWentUpFor(int32_t button, const char* owner) {
    Mouse* mouse = Mouse::Get();
    return mouse && mouse->WentUp(button, owner);
}

bool ShellScriptApp::MouseIsDownFor(int32_t button, const char* owner) {
    Mouse* mouse = Mouse::Get();
    return mouse && mouse->IsDown(button, owner);
}

void ShellScriptApp::ShowCursor(bool show) {
    if (Platform* platform = GetPlatform()) {
        platform->SetWindowMode(8, show ? 8 : 0);
    }
}

void ShellScriptApp::SetMousePosition(int32_t x, int32_t y) {
    if (Mouse* mouse = Mouse::Get()) {
        mouse->SetPosition(x, y);
    }
}

std::string ShellScriptApp::GetClipboardText() {
    if (!SDL_HasClipboardText()) {
        return {};
    }
    char* text = SDL_GetClipboardText();
    std::string result = text ? Utf8ToLatin1(text) : std::string();
    SDL_free(text);
    return result;
}

void ShellScriptApp::TypeCharacter(uint8_t character) {
    int scancode = 0;
    bool shift = false;
    if (!KeyOfCharacter(character, scancode, shift)) {
        return;
    }
    if (shift) {
        PushKeyEvent(SDL_SCANCODE_LSHIFT, true);
    }
    PushKeyEvent(scancode, true);
    PushKeyEvent(scancode, false);
    if (shift) {
        PushKeyEvent(SDL_SCANCODE_LSHIFT, false);
    }
}

void ShellScriptApp::HoldKeysDown() {
    if (Keyboard* keyboard = Keyboard::Get()) {
        keyboard->PollHoldingDownKeys();
    }
}

void ShellScriptApp::ConsumeKey(int32_t code) {
    if (Keyboard* keyboard = Keyboard::Get()) {
        keyboard->ConsumePress(code);
    }
}

bool ShellScriptApp::KeyWentDown(int32_t code) {
    Keyboard* keyboard = Keyboard::Get();
    return keyboard && keyboard->WentDown(code);
}

bool ShellScriptApp::KeyWentUp(int32_t code) {
    Keyboard* keyboard = Keyboard::Get();
    return keyboard && keyboard->WentUp(code);
}

bool ShellScriptApp::KeyIsDown(int32_t code) {
    Keyboard* keyboard = Keyboard::Get();
    return keyboard && keyboard->IsKeyDown(code);
}

int32_t ShellScriptApp::GetLastPressedKey() {
    Keyboard* keyboard = Keyboard::Get();
    return keyboard ? keyboard->GetLastPressedKey() : 75;
}

int32_t ShellScriptApp::GetHeldKey() {
    Keyboard* keyboard = Keyboard::Get();
    return keyboard ? keyboard->GetHeldKey() : 75;
}

std::string ShellScriptApp::GetKeyName(int32_t code) {
    return quarn::GetKeyName(code);
}

namespace {

// The platform keeps the devices it made; asking each time never holds one it replaced.
JoystickDevice* FirstJoystick() {
    Platform* platform = GetPlatform();
    return platform ? platform->CreateJoystick(0) : nullptr;
}

} // namespace

bool ShellScriptApp::TakeJoystick(bool rescan) {
    Platform* platform = GetPlatform();
    if (platform && rescan) {
        platform->EnumerateJoysticks();
    }
    return FirstJoystick() != nullptr;
}

bool ShellScriptApp::JoystickAvailable() {
    JoystickDevice* joystick = FirstJoystick();
    return joystick && joystick->IsAvailable();
}

float ShellScriptApp::GetJoystickValue(int32_t button, bool deadZone) {
    JoystickDevice* joystick = FirstJoystick();
    if (!joystick) {
        return 0.0f;
    }
    return deadZone ? joystick->GetValue(button) : joystick->GetRawValue(button);
}

bool ShellScriptApp::JoystickWentDown(int32_t button) {
    JoystickDevice* joystick = FirstJoystick();
    return joystick && joystick->WentDown(button);
}

bool ShellScriptApp::JoystickWentUp(int32_t button) {
    JoystickDevice* joystick = FirstJoystick();
    return joystick && joystick->WentUp(button);
}

bool ShellScriptApp::JoystickIsDown(int32_t button) {
    JoystickDevice* joystick = FirstJoystick();
    return joystick && joystick->IsDown(button);
}

std::string ShellScriptApp::GetJoystickButtonName(int32_t button) {
    JoystickDevice* joystick = FirstJoystick();
    return joystick ? joystick->GetButtonName(button) : "unknown";
}

int32_t ShellScriptApp::GetJoystickButton(int32_t which) {
    JoystickDevice* joystick = FirstJoystick();
    if (!joystick) {
        return PadButtonNone;
    }
    return which == 0 ? joystick->GetCurrentButton() : joystick->GetDecodedButton();
}

uint32_t ShellScriptApp::GetFrameCount() {
    Platform* platform = GetPlatform();
    return platform ? platform->GetFrameCount() : 0;
}

double ShellScriptApp::GetTime() {
    Platform* platform = GetPlatform();
    return platform ? platform->GetTime() : 0.0;
}

Int2 ShellScriptApp::GetViewSize() {
    Platform* platform = GetPlatform();
    return platform ? platform->GetViewSize() : Int2{};
}

uint32_t ShellScriptApp::GetVolumeSerial() {
    Platform* platform = GetPlatform();
    return platform ? platform->GetVolumeSerial() : 0;
}

std::string ShellScriptApp::GetDesktopFolder() {
    Platform* platform = GetPlatform();
    return platform ? platform->GetDesktopFolder() : "";
}

std::string ShellScriptApp::GetProgramPath() {
    Platform* platform = GetPlatform();
    return platform ? platform->GetProgramPath() : "";
}

OnlineService* ShellScriptApp::GetOnlineService() {
    Platform* platform = GetPlatform();
    return platform ? platform->GetOnlineService() : nullptr;
}

} // namespace quarn
