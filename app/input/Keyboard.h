#pragma once

#include <cstdint>

namespace quarn {

// Engine key codes: 0-70 name one physical key each, 71-74 either key of a pair. Games, input
// nodes and scripts store these numbers.
enum KeyCode : int32_t {
    KeyFirstDigit = 0,
    KeyF1 = 10,
    KeyA = 22,
    KeySpace = 48,
    KeyTab = 49,
    KeyEnter = 50,
    KeyBackspace = 51,
    KeyEscape = 52,
    KeyLeftShift = 53,
    KeyRightShift = 54,
    KeyLeftAlt = 55,
    KeyRightAlt = 56,
    KeyLeftCtrl = 57,
    KeyRightCtrl = 58,
    KeyLeftSuper = 59, // the system key; its names keep the texts games know ("Left Win")
    KeyRightSuper = 60,
    KeyLeft = 61,
    KeyRight = 62,
    KeyUp = 63,
    KeyDown = 64,
    KeyInsert = 65,
    KeyDelete = 66,
    KeyHome = 67,
    KeyEnd = 68,
    KeyPageUp = 69,
    KeyPageDown = 70,
    KeyShift = 71,
    KeyAlt = 72,
    KeyCtrl = 73,
    KeySuper = 74,
    KeyCount = 75, // also "no key"
};

// Key states per scan code.
enum KeyState : uint8_t { KeyUpState = 0, KeyReleased = 1, KeyHeld = 2, KeyPressed = 3 };

// The scan code of a physical key code (0-70); 0 for any other code.
uint8_t KeyCodeToScanCode(int32_t code);
// The key code of a scan code; KeyCount when no physical key code has it.
int32_t ScanCodeToKeyCode(uint8_t scanCode);
// '0'-'9', 'A'-'Z', ' ', tab and line feed; '?' for every other code.
char KeyCodeToChar(int32_t code);
// "Unknown" outside 0-74.
const char* GetKeyName(int32_t code);

// Bits of a scan code's byte in KeyStateSource::ReadKeyState.
enum KeyStateBits : uint8_t {
    KeyPressedSinceRead = 0x01, // went down since the last read, whether or not it still is
    KeyDownNow = 0x80,
};

// Where the keyboard reads its keys: one byte per scan code (KeyStateBits). A key that went down
// and up again between two reads shows only its press bit: the keyboard sees the tap.
class KeyStateSource {
public:
    virtual ~KeyStateSource() = default;
    // False when the keys cannot be read this time.
    virtual bool ReadKeyState(uint8_t state[256]) = 0;
    // Waits for and handles new input; false once the program is asked to quit.
    virtual bool WaitForInput() = 0;
};

class Keyboard {
public:
    explicit Keyboard(KeyStateSource& source);
    virtual ~Keyboard();
    Keyboard(const Keyboard&) = delete;
    Keyboard& operator=(const Keyboard&) = delete;

    // The keyboard of the run, or null.
    static Keyboard* Get() { return instance_; }

    bool IsAvailable() const { return instance_ != nullptr; }
    // Rebuilds the states from the source, once at the start of each frame. A key that went down
    // since the last poll is pressed in this frame, even when it is up again by now (its
    // release then shows in the next).
    void Poll() { Read(true); }
    void EndFrame() {}
    bool IsKeyDown(int32_t code) const;
    bool WentUp(int32_t code) const;
    bool WentDown(int32_t code) const;
    // Later WentDown queries in this frame see no press of the key.
    void ConsumePress(int32_t code);
    void ConsumeAllPresses();
    // Reads the keys and takes every key that is down as held: keys pressed while a modal
    // dialog had the input are no new presses afterwards.
    void PollHoldingDownKeys();
    // Disabling clears every state; a disabled keyboard ignores Poll.
    void SetEnabled(bool enabled);
    // Polls until the key is up, or until the program is asked to quit.
    void WaitForKeyRelease(int32_t code);
    bool IsShiftDown() const { return IsKeyDown(KeyShift); }
    bool IsAltDown() const { return IsKeyDown(KeyAlt); }
    bool IsCtrlDown() const { return IsKeyDown(KeyCtrl); }
    int32_t GetLastPressedKey() const { return lastPressed_; }
    // The key pressed first among those still down.
    int32_t GetHeldKey() const { return heldKey_; }

private:
    template <typename Test>
    bool AnyKeyOf(int32_t code, Test test) const;
    void Clear();
    // Poll; without `takeTaps` a press that is over by the read leaves no trace.
    void Read(bool takeTaps);

    static inline Keyboard* instance_ = nullptr;

    uint8_t states_[256] = {};
    bool enabled_ = true;
    KeyStateSource& source_;
    int32_t lastPressed_ = KeyCount;
    int32_t heldKey_ = KeyCount;
};

} // namespace quarn
