#pragma once

namespace quarn {

// Long tools (lightmap and atlas builds) show the wait cursor with a text while they run: a
// progress below 1.0 turns it on, 1.0 with an empty text turns it off. Libraries below the
// platform reach it through one hook, which the player points at its window; without one
// nothing is shown.
using BusyCursorHook = void (*)(float progress, const char* text);

void SetBusyCursorHook(BusyCursorHook hook); // null removes it
void ShowBusyCursor(float progress, const char* text);

} // namespace quarn
