#pragma once

// Input as the window system queues it, pushed without being handled: the next pump handles
// what a test pushed in one go, as a frame handles what came since the last.

#include "core/math/Vector.h"

#include <SDL.h>
#include <cstdint>

namespace quarn::test {

// `clicks` as SDL counts a press: 2 for a double click's second.
inline void PushButtonEvent(uint8_t button, bool down, uint8_t clicks, Int2 at) {
    SDL_Event event = {};
    event.type = down ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP;
    event.button.button = button;
    event.button.state = down ? SDL_PRESSED : SDL_RELEASED;
    event.button.clicks = clicks;
    event.button.x = at.x;
    event.button.y = at.y;
    SDL_PushEvent(&event);
}

// `modifiers`: the KMOD_ bits the key event holds.
inline void PushKeyEvent(SDL_Scancode code, bool down, uint16_t modifiers) {
    SDL_Event event = {};
    event.type = down ? SDL_KEYDOWN : SDL_KEYUP;
    event.key.state = down ? SDL_PRESSED : SDL_RELEASED;
    event.key.keysym.scancode = code;
    event.key.keysym.sym = SDL_GetKeyFromScancode(code);
    event.key.keysym.mod = modifiers;
    SDL_PushEvent(&event);
}

} // namespace quarn::test
