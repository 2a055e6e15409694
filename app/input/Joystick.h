#pragma once

namespace quarn {

// A game controller in one of the platform's joystick slots, as the frame function polls it.
class Joystick {
public:
    virtual ~Joystick() = default;
    // Opens the device on first use; true while one is open.
    virtual bool IsAvailable() = 0;
    // False when the device could not be read.
    virtual bool Poll() = 0;
};

} // namespace quarn
