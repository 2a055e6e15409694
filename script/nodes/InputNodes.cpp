#include "script/nodes/InputNodes.h"

#include "core/object/ClassInfo.h"
#include "core/object/MethodInfo.h"
#include "core/object/NamedConstants.h"
#include "core/object/PropertyScalar.h"
#include "core/scene/WitnessProperty.h"
#include "script/machine/ScriptApp.h"

#include <array>

namespace quarn {

ClassInfo* InputCode::classInfo = nullptr;
ClassInfo* KeyboardInterface::classInfo = nullptr;
ClassInfo* Joystick::classInfo = nullptr;

namespace {

constexpr int32_t ShiftKey = 71;
constexpr int32_t AltKey = 72;
constexpr int32_t CtrlKey = 73;

// Pad buttons of the left stick's four directions.
constexpr int32_t LeftStickLeft = 0;
constexpr int32_t LeftStickRight = 1;
constexpr int32_t LeftStickUp = 2;
constexpr int32_t LeftStickDown = 3;
constexpr int32_t PadButtons = 28;
constexpr int32_t NoPadButton = 29;

// Scan codes of old scenes, with the key code each stands for.
constexpr std::array<std::array<uint8_t, 2>, 69> StoredScanCodes = {{
    {1, 52},   {2, 1},    {3, 2},    {4, 3},    {5, 4},    {6, 5},    {7, 6},    {8, 7},
    {9, 8},    {10, 9},   {11, 0},   {14, 51},  {15, 49},  {16, 38},  {17, 44},  {18, 26},
    {19, 39},  {20, 41},  {21, 46},  {22, 42},  {23, 30},  {24, 36},  {25, 37},  {28, 50},
    {29, 57},  {30, 22},  {31, 40},  {32, 25},  {33, 27},  {34, 28},  {35, 29},  {36, 31},
    {37, 32},  {38, 33},  {42, 53},  {44, 47},  {45, 45},  {46, 24},  {47, 43},  {48, 23},
    {49, 35},  {50, 34},  {54, 54},  {57, 48},  {59, 10},  {60, 11},  {61, 12},  {62, 13},
    {63, 14},  {64, 15},  {65, 16},  {66, 17},  {67, 18},  {68, 19},  {87, 20},  {88, 21},
    {157, 58}, {199, 67}, {200, 63}, {201, 69}, {203, 61}, {205, 62}, {207, 68}, {208, 64},
    {209, 70}, {210, 65}, {211, 66}, {219, 59}, {220, 60},
}};

// The order compiled scripts know the key codes by.
constexpr std::array<int32_t, 76> KeyConstantOrder = {
    52, 1,  2,  3,  4,  5,  6,  7,  8,  9,  0,  51, 49, 38, 44, 26, 39, 41, 46,
    42, 30, 36, 37, 50, 57, 22, 40, 25, 27, 28, 29, 31, 32, 33, 53, 47, 45, 24,
    43, 23, 35, 34, 54, 55, 48, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21,
    58, 56, 67, 63, 69, 61, 62, 68, 64, 70, 65, 66, 59, 60, 71, 73, 72, 74, 75,
};

EntityRef ReferenceTo(uint32_t id) {
    EntityRef reference;
    reference.InitFromId(id);
    return reference;
}

} // namespace

int32_t UpgradeStoredKeyCode(int32_t scanCode) {
    for (const auto& [stored, code] : StoredScanCodes) {
        if (stored == scanCode) {
            return code;
        }
    }
    return NoKeyCode;
}

// InputCode -------------------------------------------------------------------------------------

InputCode::InputCode() = default;

const char* InputCode::GetKeyName() const {
    keyName_ = GetScriptApp().GetKeyName(keyCode_);
    return keyName_.c_str();
}

const char* InputCode::GetOutputName(int port) const {
    switch (port) {
    case 0:
        return "on";
    case 1:
        return "off";
    default:
        return "";
    }
}

void InputCode::SetPortValue(int port, const EntityRef& reference) {
    if (port == 0) {
        witnessOn_ = reference;
    } else if (port == 1) {
        witnessOff_ = reference;
    }
}

EntityRef InputCode::GetPortValue(int port) const {
    switch (port) {
    case 0:
        return witnessOn_;
    case 1:
        return witnessOff_;
    default:
        return {};
    }
}

void InputCode::Update(float, int) {
    if (keyCode_ == NoKeyCode) {
        return;
    }
    ScriptApp& app = GetScriptApp();
    // The "on" event may delete this node; the key's state was read before it ran.
    const bool wentDown = app.KeyWentDown(keyCode_);
    const bool wentUp = app.KeyWentUp(keyCode_);
    const uint64_t self = GetSerial();
    const uint32_t offId = witnessOff_.GetId();
    if (wentDown) {
        SendEvent(ReferenceTo(GetId()), ReferenceTo(witnessOn_.GetId()), nullptr, 1.0f);
    }
    if (wentUp && Entity::FindBySerial(self)) {
        SendEvent(ReferenceTo(GetId()), ReferenceTo(offId), nullptr, 0.0f);
    }
}

void InputCode::UpgradeVersion(int fileVersion) {
    Node::UpgradeVersion(fileVersion);
    // Runs once for every file before version 30, whatever version it started from.
    if (fileVersion == 29) {
        keyCode_ = UpgradeStoredKeyCode(keyCode_);
    }
}

ClassInfo* InputCode::RegisterClass() {
    if (classInfo) {
        return classInfo;
    }
    classInfo = new ClassInfo(
        "InputCode", []() -> Entity* { return new InputCode(); }, &classInfo);
    classInfo->SetParent(Node::RegisterClass());
    classInfo->SetCategory("Input");
    using I = InputCode;
    classInfo->AddProperty<PropertyInt, &I::GetKeyCode, &I::SetKeyCode>("keycode:key");
    AddWitnessProperty(classInfo, "witness_on:signal", 0);
    AddWitnessProperty(classInfo, "witness_off:signal", 1);
    classInfo->AddMethod(NextShortName(), "():string", BindMethod<&I::GetKeyName>(), MethodScript);
    return classInfo;
}

// KeyboardInterface -----------------------------------------------------------------------------

KeyboardInterface::KeyboardInterface() = default;

bool KeyboardInterface::WentDown(int32_t code) const {
    return IsFullyEnabled() && GetScriptApp().KeyWentDown(code);
}

bool KeyboardInterface::WentUp(int32_t code) const {
    return IsFullyEnabled() && GetScriptApp().KeyWentUp(code);
}

bool KeyboardInterface::IsDown(int32_t code) const {
    return IsFullyEnabled() && GetScriptApp().KeyIsDown(code);
}

bool KeyboardInterface::IsShiftDown() const {
    return GetScriptApp().KeyIsDown(ShiftKey);
}

bool KeyboardInterface::IsCtrlDown() const {
    return GetScriptApp().KeyIsDown(CtrlKey);
}

bool KeyboardInterface::IsAltDown() const {
    return GetScriptApp().KeyIsDown(AltKey);
}

int32_t KeyboardInterface::GetLastPressedKey() const {
    return IsFullyEnabled() ? GetScriptApp().GetLastPressedKey() : NoKeyCode;
}

int32_t KeyboardInterface::GetHeldKey() const {
    return IsFullyEnabled() ? GetScriptApp().GetHeldKey() : NoKeyCode;
}

const char* KeyboardInterface::GetKeyName(int32_t code) const {
    keyName_ = GetScriptApp().GetKeyName(code);
    return keyName_.c_str();
}

void KeyboardInterface::ConsumePress(int32_t code) {
    GetScriptApp().ConsumeKey(code);
}

ClassInfo* KeyboardInterface::RegisterClass() {
    if (classInfo) {
        return classInfo;
    }
    classInfo = new ClassInfo(
        "KeyboardInterface", []() -> Entity* { return new KeyboardInterface(); }, &classInfo);
    classInfo->SetParent(Node::RegisterClass());
    classInfo->SetCategory("Input");
    using K = KeyboardInterface;
    classInfo->AddMethod(NextShortName(), "(int):bool", BindMethod<&K::WentDown>(), MethodScript);
    classInfo->AddMethod(NextShortName(), "(int):bool", BindMethod<&K::WentUp>(), MethodScript);
    classInfo->AddMethod(NextShortName(), "(int):bool", BindMethod<&K::IsDown>(), MethodScript);
    classInfo->AddMethod(NextShortName(), "():bool", BindMethod<&K::IsShiftDown>(), MethodScript);
    classInfo->AddMethod(NextShortName(), "():bool", BindMethod<&K::IsCtrlDown>(), MethodScript);
    classInfo->AddMethod(NextShortName(), "():bool", BindMethod<&K::IsAltDown>(), MethodScript);
    classInfo->AddMethod(NextShortName(), "():int", BindMethod<&K::GetLastPressedKey>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "():int", BindMethod<&K::GetHeldKey>(), MethodScript);
    classInfo->AddMethod(NextShortName(), "(int):string", BindMethod<&K::GetKeyName>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "(int)", BindMethod<&K::ConsumePress>(), MethodScript);
    for (int32_t code : KeyConstantOrder) {
        RegisterNamedConstant(NextShortName(), code);
    }
    return classInfo;
}

// Joystick --------------------------------------------------------------------------------------

Joystick::Joystick() : hasDevice_(GetScriptApp().TakeJoystick(false)) {}

bool Joystick::IsConnected() {
    ScriptApp& app = GetScriptApp();
    if (hasDevice_ && app.JoystickAvailable()) {
        return true;
    }
    hasDevice_ = app.TakeJoystick(true);
    return hasDevice_ && app.JoystickAvailable();
}

Float2 Joystick::LeftStick(bool deadZone) const {
    if (!hasDevice_) {
        return {};
    }
    ScriptApp& app = GetScriptApp();
    return Float2(app.GetJoystickValue(LeftStickRight, deadZone) -
                      app.GetJoystickValue(LeftStickLeft, deadZone),
                  app.GetJoystickValue(LeftStickUp, deadZone) -
                      app.GetJoystickValue(LeftStickDown, deadZone));
}

Float2 Joystick::GetLeftStick(int32_t) const {
    return LeftStick(false);
}

Float2 Joystick::GetLeftStickPastDeadZone(int32_t, bool) const {
    return LeftStick(true);
}

float Joystick::GetValue(int32_t button) const {
    return hasDevice_ ? GetScriptApp().GetJoystickValue(button, false) : 0.0f;
}

float Joystick::GetValuePastDeadZone(int32_t button) const {
    return hasDevice_ ? GetScriptApp().GetJoystickValue(button, true) : 0.0f;
}

bool Joystick::WentDown(int32_t button) const {
    return hasDevice_ && GetScriptApp().JoystickWentDown(button);
}

bool Joystick::WentUp(int32_t button) const {
    return hasDevice_ && GetScriptApp().JoystickWentUp(button);
}

bool Joystick::IsDown(int32_t button) const {
    return hasDevice_ && GetScriptApp().JoystickIsDown(button);
}

const char* Joystick::GetButtonName(int32_t button) const {
    buttonName_ = hasDevice_ ? GetScriptApp().GetJoystickButtonName(button) : "unknown";
    return buttonName_.c_str();
}

int32_t Joystick::GetCurrentButton() const {
    return hasDevice_ ? GetScriptApp().GetJoystickButton(0) : NoPadButton;
}

int32_t Joystick::GetDecodedButton() const {
    return hasDevice_ ? GetScriptApp().GetJoystickButton(1) : NoPadButton;
}

ClassInfo* Joystick::RegisterClass() {
    if (classInfo) {
        return classInfo;
    }
    classInfo = new ClassInfo(
        "Joystick", []() -> Entity* { return new Joystick(); }, &classInfo);
    classInfo->SetParent(Node::RegisterClass());
    classInfo->SetCategory("Input");
    using J = Joystick;
    classInfo->AddMethod(NextShortName(), "():bool", BindMethod<&J::IsConnected>(), MethodScript);
    classInfo->AddMethod(NextShortName(), "(int):float2", BindMethod<&J::GetLeftStick>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "(int,bool):float2",
                         BindMethod<&J::GetLeftStickPastDeadZone>(), MethodScript);
    classInfo->AddMethod(NextShortName(), "(int):float", BindMethod<&J::GetValue>(), MethodScript);
    classInfo->AddMethod(NextShortName(), "(int):float", BindMethod<&J::GetValuePastDeadZone>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "(int):bool", BindMethod<&J::WentDown>(), MethodScript);
    classInfo->AddMethod(NextShortName(), "(int):bool", BindMethod<&J::WentUp>(), MethodScript);
    classInfo->AddMethod(NextShortName(), "(int):bool", BindMethod<&J::IsDown>(), MethodScript);
    classInfo->AddMethod(NextShortName(), "(int):string", BindMethod<&J::GetButtonName>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "():int", BindMethod<&J::GetCurrentButton>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "():int", BindMethod<&J::GetDecodedButton>(),
                         MethodScript);
    for (int32_t button = 0; button < PadButtons; ++button) {
        RegisterNamedConstant(NextShortName(), button);
    }
    RegisterNamedConstant(NextShortName(), NoPadButton);
    return classInfo;
}

} // namespace quarn
