#pragma once

#include "app/input/JoystickDevice.h"

#include <vector>

namespace quarn::test {

// The pad buttons the device reads as down, in button order.
inline std::vector<int32_t> PadButtonsDown(const JoystickDevice& device) {
    std::vector<int32_t> down;
    for (int32_t button = 0; button < PadButtonCount; ++button) {
        if (device.IsDown(button)) {
            down.push_back(button);
        }
    }
    return down;
}

} // namespace quarn::test
