#include "core/os/BusyCursor.h"

namespace quarn {

namespace {
BusyCursorHook currentHook = nullptr;
} // namespace

void SetBusyCursorHook(BusyCursorHook hook) {
    currentHook = hook;
}

void ShowBusyCursor(float progress, const char* text) {
    if (currentHook) {
        currentHook(progress, text ? text : "");
    }
}

} // namespace quarn
