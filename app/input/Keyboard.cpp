#include "app/input/Keyboard.h"

#include <cstring>

namespace quarn {

namespace {

// Indexed by key code 0-70: the scan code and the name of each physical key.
struct KeyInfo {
    uint8_t scanCode;
    const char* name;
};

const KeyInfo Keys[] = {
    {11, "0"},
    {2, "1"},
    {3, "2"},
    {4, "3"},
    {5, "4"},
    {6, "5"},
    {7, "6"},
    {8, "7"},
    {9, "8"},
    {10, "9"},
    {59, "F1"},
    {60, "F2"},
    {61, "F3"},
    {62, "F4"},
    {63, "F5"},
    {64, "F6"},
    {65, "F7"},
    {66, "F8"},
    {67, "F9"},
    {68, "F10"},
    {87, "F11"},
    {88, "F12"},
    {30, "A"},
    {48, "B"},
    {46, "C"},
    {32, "D"},
    {18, "E"},
    {33, "F"},
    {34, "G"},
    {35, "H"},
    {23, "I"},
    {36, "J"},
    {37, "K"},
    {38, "L"},
    {50, "M"},
    {49, "N"},
    {24, "O"},
    {25, "P"},
    {16, "Q"},
    {19, "R"},
    {31, "S"},
    {20, "T"},
    {22, "U"},
    {47, "V"},
    {17, "W"},
    {45, "X"},
    {21, "Y"},
    {44, "Z"},
    {57, "Space"},
    {15, "Tab"},
    {28, "Enter"},
    {14, "Backspace"},
    {1, "Esc"},
    {42, "Left Shift"},
    {54, "Right Shift"},
    {56, "Left Alt"},
    {184, "Right Alt"},
    {29, "Left Ctrl"},
    {157, "Right Ctrl"},
    {219, "Left Win"},
    {220, "Right Win"},
    {203, "Left"},
    {205, "Right"},
    {200, "Up"},
    {208, "Down"},
    {210, "Insert"},
    {211, "Delete"},
    {199, "Home"},
    {207, "End"},
    {201, "Page Up"},
    {209, "Page Down"},
};
constexpr int32_t PhysicalKeyCount = static_cast<int32_t>(sizeof(Keys) / sizeof(Keys[0]));
static_assert(PhysicalKeyCount == KeyShift);

const char* const PairNames[] = {"Shift", "Alt", "Ctrl", "Win"};

} // namespace

uint8_t KeyCodeToScanCode(int32_t code) {
    return code >= 0 && code < PhysicalKeyCount ? Keys[code].scanCode : 0;
}

int32_t ScanCodeToKeyCode(uint8_t scanCode) {
    for (int32_t code = 0; code < PhysicalKeyCount; ++code) {
        if (Keys[code].scanCode == scanCode) {
            return code;
        }
    }
    return KeyCount;
}

char KeyCodeToChar(int32_t code) {
    if (code >= 0 && code <= 9) {
        return static_cast<char>('0' + code);
    }
    if (code >= KeyA && code < KeyA + 26) {
        return static_cast<char>('A' + (code - KeyA));
    }
    switch (code) {
    case KeySpace:
        return ' ';
    case KeyTab:
        return '\t';
    case KeyEnter:
        return '\n';
    default:
        return '?';
    }
}

const char* GetKeyName(int32_t code) {
    if (code >= 0 && code < PhysicalKeyCount) {
        return Keys[code].name;
    }
    if (code >= KeyShift && code < KeyCount) {
        return PairNames[code - KeyShift];
    }
    return "Unknown";
}

Keyboard::Keyboard(KeyStateSource& source) : source_(source) {
    instance_ = this;
}

Keyboard::~Keyboard() {
    if (instance_ == this) {
        instance_ = nullptr;
    }
}

// Calls the test with the state of the key, or of either key of a pair.
template <typename Test>
bool Keyboard::AnyKeyOf(int32_t code, Test test) const {
    if (code >= 0 && code < PhysicalKeyCount) {
        return test(states_[Keys[code].scanCode]);
    }
    if (code >= KeyShift && code < KeyCount) {
        int32_t left = KeyLeftShift + 2 * (code - KeyShift);
        return test(states_[Keys[left].scanCode]) || test(states_[Keys[left + 1].scanCode]);
    }
    return false;
}

bool Keyboard::IsKeyDown(int32_t code) const {
    return AnyKeyOf(code, [](uint8_t state) { return state == KeyHeld || state == KeyPressed; });
}

bool Keyboard::WentUp(int32_t code) const {
    return AnyKeyOf(code, [](uint8_t state) { return state == KeyReleased; });
}

bool Keyboard::WentDown(int32_t code) const {
    return AnyKeyOf(code, [](uint8_t state) { return state == KeyPressed; });
}

void Keyboard::ConsumePress(int32_t code) {
    auto consume = [this](int32_t physical) {
        uint8_t& state = states_[Keys[physical].scanCode];
        if (state == KeyPressed) {
            state = KeyHeld;
        }
    };
    if (code >= 0 && code < PhysicalKeyCount) {
        consume(code);
    } else if (code >= KeyShift && code < KeyCount) {
        int32_t left = KeyLeftShift + 2 * (code - KeyShift);
        consume(left);
        consume(left + 1);
    }
}

void Keyboard::ConsumeAllPresses() {
    for (uint8_t& state : states_) {
        if (state == KeyPressed) {
            state = KeyHeld;
        }
    }
}

void Keyboard::PollHoldingDownKeys() {
    Read(false);
    ConsumeAllPresses();
}

void Keyboard::Clear() {
    std::memset(states_, 0, sizeof(states_));
}

void Keyboard::SetEnabled(bool enabled) {
    enabled_ = enabled;
    if (!enabled) {
        Clear();
    }
}

void Keyboard::Read(bool takeTaps) {
    if (!enabled_) {
        return;
    }
    uint8_t buffer[256];
    if (!source_.ReadKeyState(buffer)) {
        // A keyboard we cannot read counts as all keys up for this frame.
        Clear();
        return;
    }
    lastPressed_ = KeyCount;
    for (int scan = 0; scan < 256; ++scan) {
        uint8_t old = states_[scan];
        uint8_t next = (buffer[scan] & KeyDownNow) ? KeyHeld : KeyUpState;
        if (next != old && ((next ^ old) & KeyHeld)) {
            next |= 1; // the edge is visible for one frame: 3 then 2, 1 then 0
        }
        if (takeTaps && (buffer[scan] & KeyPressedSinceRead)) {
            next = KeyPressed; // a tap between frames, or a key let go and pressed again
        }
        states_[scan] = next;
        if (next == KeyPressed) {
            // A key without a code is nobody's press, not some other key's.
            int32_t code = ScanCodeToKeyCode(static_cast<uint8_t>(scan));
            if (code == KeyCount) {
                continue;
            }
            lastPressed_ = code;
            if (heldKey_ == KeyCount) {
                heldKey_ = code;
            }
        } else if (next == KeyReleased) {
            if (heldKey_ == ScanCodeToKeyCode(static_cast<uint8_t>(scan))) {
                heldKey_ = KeyCount;
            }
        }
    }
}

void Keyboard::WaitForKeyRelease(int32_t code) {
    for (;;) {
        Poll();
        if (!IsKeyDown(code) || !enabled_ || !source_.WaitForInput()) {
            return;
        }
    }
}

} // namespace quarn
