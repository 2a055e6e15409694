#pragma once

namespace quarn {

// Opens a native path with the desktop's program for its type (xdg-open); false when that
// could not be started. The path travels as one argument, never through a shell.
bool OpenWithDesktop(const char* nativePath);

} // namespace quarn
