#pragma once

#include <cstdint>

namespace quarn {

// The messages the platform hands to its hooks. The numbers are the ones the engine's hooks were
// written against, so an editor hook can keep its tables.
enum WindowMessage : uint32_t {
    MessageDestroy = 0x0002,
    MessageSize = 0x0005,
    MessageClose = 0x0010,
    MessagePaint = 0x000F,
    MessageActivateApp = 0x001C,
    MessageKeyDown = 0x0100,
    MessageKeyUp = 0x0101,
    MessageChar = 0x0102,
    MessageCommand = 0x0111, // a menu item's or toolbar button's id in the detail's low word
    MessageMouseMove = 0x0200,
    MessageLeftButtonDown = 0x0201,
    MessageLeftButtonUp = 0x0202,
    MessageLeftButtonDoubleClick = 0x0203,
    MessageRightButtonDown = 0x0204,
    MessageRightButtonUp = 0x0205,
    MessageRightButtonDoubleClick = 0x0206,
    MessageMiddleButtonDown = 0x0207,
    MessageMiddleButtonUp = 0x0208,
    MessageMiddleButtonDoubleClick = 0x0209,
    MessageMouseWheel = 0x020A,
};

// Size kinds in the detail of MessageSize.
enum : uintptr_t { SizeRestored = 0, SizeMinimized = 1, SizeMaximized = 2 };

// One wheel notch; MessageMouseWheel carries the signed delta in bits 16-31 of its detail.
constexpr int WheelDelta = 120;

// Two 16-bit values in one message value, low word first: positions and sizes.
constexpr intptr_t PackWords(int32_t low, int32_t high) {
    return static_cast<intptr_t>((static_cast<uint32_t>(low) & 0xFFFFu) |
                                 ((static_cast<uint32_t>(high) & 0xFFFFu) << 16));
}
constexpr int32_t LowWord(intptr_t value) {
    return static_cast<int16_t>(static_cast<uint32_t>(value) & 0xFFFFu);
}
constexpr int32_t HighWord(intptr_t value) {
    return static_cast<int16_t>((static_cast<uint32_t>(value) >> 16) & 0xFFFFu);
}

} // namespace quarn
